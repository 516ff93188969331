// Whole-file reads and writes, deletions and GUID strings.
#include <cstring>

#include "webmng/file_access.h"
#include "webmng/form_call.h"
#include "webmng/webmng_methods.h"
#include "platform/guid_text.h"
#include "platform/text_services.h"

STDMETHODIMP WebMngMethods::ReadBinary(BSTR bstrFilename, VARIANT* pvarBinaryArray, LONG* plResult) {
    if (!pvarBinaryArray || !plResult) return E_POINTER;
    if (!bstrFilename) return FailWith(Msg::kFileNameNull);
    *plResult = -1;
    AnsiString path;
    if (!ConvertPath(path, bstrFilename, Msg::kFileOpenError)) return E_FAIL;
    ModuleBlock buffer;
    std::int32_t lSize;
    {
        UniqueFileHandle file(OpenUnshared(path.get(), GENERIC_READ, OPEN_EXISTING));
        if (!file) return FailWith(Msg::kFileOpenError);
        lSize = ReadWholeFile(file.get(), buffer);
    }
    if (lSize == kReadFailed) return FailWith(Msg::kFileReadError);
    if (!MakeByteArray(pvarBinaryArray, buffer.get(), static_cast<ULONG>(lSize))) return FailWith(Msg::kException);
    *plResult = 0;
    return S_OK;
}

STDMETHODIMP WebMngMethods::WriteBinary(VARIANT* pvarBinaryArray, BSTR bstrFilename, LONG* plResult) {
    LockedByteArray bytes;
    RETURN_IF_FAILED(OpenBody(bytes, pvarBinaryArray, plResult != nullptr, {{bstrFilename, Msg::kFileNameNull}},
                              [&] { *plResult = -1; }));
    AnsiString path;
    if (ConvertPath(path, bstrFilename, Msg::kFileOpenError)) {
        // A failed write leaves what it wrote: the caller chose to replace
        // this file, and it may be theirs, so it is not deleted.
        UniqueFileHandle file(OpenForWriting(bstrFilename, path.get(), CREATE_ALWAYS));
        if (!file)
            ReportError(Msg::kFileOpenError);
        else if (!WriteWhole(file.get(), bytes.data(), bytes.size()))
            ReportError(Msg::kFileWriteError);
        else
            *plResult = 0;
    }
    return FinishLocked(bytes);
}

STDMETHODIMP WebMngMethods::DeleteFile(BSTR bstrFilename, LONG* plResult) {
    if (!plResult) return E_POINTER;
    *plResult = -2;
    if (!bstrFilename) return FailWith(Msg::kFileNameNull);
    AnsiString path;
    if (!ConvertPath(path, bstrFilename, Msg::kFileDeleteFailed)) return E_FAIL;
    if (::DeleteFileA(path.get())) {
        *plResult = 0;
        return S_OK;
    }
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        *plResult = -1;
        return S_OK;
    }
    return FailWith(Msg::kFileDeleteFailed);
}

namespace {
// Room for the search pattern and for each deletion path, terminator included.
constexpr std::size_t kcbJoin = 1024;

// szJoin = pszFirst followed directly by pszSecond; false when that does not
// fit, so nothing is cut to a different name.
bool JoinPath(char (&szJoin)[kcbJoin], const char* pszFirst, const char* pszSecond) {
    std::size_t cbFirst = std::strlen(pszFirst), cbSecond = std::strlen(pszSecond);
    if (cbFirst + cbSecond >= kcbJoin) return false;
    std::memcpy(szJoin, pszFirst, cbFirst);
    std::memcpy(szJoin + cbFirst, pszSecond, cbSecond + 1);
    return true;
}

bool IsDotEntry(const char* pszName) {
    return std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0;
}

// Length of the folder part of a search pattern: up to and including its last
// '\', '/' or ':' (0 when it has none). The walk goes by characters, so the
// second byte of a double-byte character is never taken for a '\'.
std::size_t FolderPartLength(const char* pszPattern) {
    std::size_t cbFolder = 0;
    for (const char* p = pszPattern; *p; p = TextCharNext(p)) {
        if (*p == '\\' || *p == '/' || *p == ':') cbFolder = static_cast<std::size_t>(p - pszPattern) + 1;
    }
    return cbFolder;
}
}  // namespace

STDMETHODIMP WebMngMethods::DeleteFileEx(BSTR bstrPath, BSTR bstrFilename, LONG* plResult) {
    if (!plResult) return E_POINTER;
    *plResult = -2;
    // An empty path would search the server process's current folder, which
    // no page means to empty.
    if (!bstrPath || !bstrPath[0]) return FailWith(Msg::kPathNameNull);
    if (!bstrFilename) return FailWith(Msg::kFileNameNull);
    AnsiString path, pattern;
    if (!ConvertPath(path, bstrPath, Msg::kFileDeleteFailed) ||
        !ConvertPath(pattern, bstrFilename, Msg::kFileDeleteFailed))
        return E_FAIL;
    char szSearch[kcbJoin];
    char szJoin[kcbJoin];
    *plResult = 0;
    // A pattern too long to form matches nothing.
    if (!JoinPath(szSearch, path.get(), pattern.get())) return S_OK;
    // Each match is deleted in the folder the search looked in, whatever part
    // of that folder came from the path or the pattern.
    const std::size_t cbFolder = FolderPartLength(szSearch);
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA(szSearch, &found));
    if (!search) return S_OK;
    szSearch[cbFolder] = '\0';
    bool bFailed = false;
    do {
        // The directory's own entries match any "*" pattern; they are no
        // files to delete.
        if (IsDotEntry(found.cFileName)) continue;
        // A path too long to form is not cut to another name: it cannot be
        // deleted, like any other failure.
        if (!JoinPath(szJoin, szSearch, found.cFileName)) {
            bFailed = true;
            break;
        }
        if (::DeleteFileA(szJoin)) continue;
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            bFailed = true;
            break;
        }
        *plResult = -1;
    } while (FindNextFileA(search.get(), &found));
    return bFailed ? FailWith(Msg::kFileDeleteFailed) : S_OK;
}

STDMETHODIMP WebMngMethods::CreateGUID(BSTR* pbstrGUID) {
    if (!pbstrGUID) return E_POINTER;
    *pbstrGUID = nullptr;
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) return FailWith(Msg::kGuidError);
    // A GUID without its text is no GUID for the caller: a null string with
    // success would be taken for one.
    wchar_t szText[kcchGuidText];
    if (!GuidToText(guid, GuidForm::kLowerBare, szText)) return FailWith(Msg::kGuidError);
    *pbstrGUID = SysAllocString(szText);
    if (!*pbstrGUID) return FailWith(Msg::kGuidError);
    return S_OK;
}

// Whole-file reads and writes, deletions and GUID strings.
#include <rpc.h>

#include <cstring>

#include "component/file_access.h"
#include "component/form_call.h"
#include "component/webmng_methods.h"

STDMETHODIMP WebMngMethods::ReadBinary(BSTR bstrFilename, VARIANT* pvarBinaryArray, LONG* plResult) {
    if (!pvarBinaryArray || !plResult) return E_POINTER;
    if (!bstrFilename) return FailWith(Msg::kFileNameNull);
    *plResult = -1;
    AnsiString path;
    if (!ConvertPath(path, bstrFilename)) return E_FAIL;
    ModuleBlock buffer;
    std::int32_t lSize;
    {
        FileHandle file(OpenUnshared(path.get(), GENERIC_READ, OPEN_EXISTING));
        if (!file) return FailWith(Msg::kFileOpenError);
        lSize = ReadWholeFile(file.get(), buffer);
    }
    if (lSize == kReadFailed) return FailWith(Msg::kFileReadError);
    if (!MakeByteArray(pvarBinaryArray, buffer.get(), static_cast<ULONG>(lSize))) return FailWith(Msg::kException);
    *plResult = 0;
    return S_OK;
}

STDMETHODIMP WebMngMethods::WriteBinary(VARIANT* pvarBinaryArray, BSTR bstrFilename, LONG* plResult) {
    if (!pvarBinaryArray || !plResult) return E_POINTER;
    if (!bstrFilename) return FailWith(Msg::kFileNameNull);
    if (!IsByteArrayArg(pvarBinaryArray)) return FailWith(Msg::kNotArrayType);
    *plResult = -1;
    LockedByteArray bytes;
    if (!LockBody(bytes, pvarBinaryArray)) return E_FAIL;
    AnsiString path;
    if (ConvertPath(path, bstrFilename)) {
        FileHandle file(OpenUnshared(path.get(), GENERIC_WRITE, CREATE_ALWAYS));
        if (!file)
            ErrorReporter(Msg::kFileOpenError);
        else if (!WriteWhole(file.get(), bytes.data(), bytes.size()))
            ErrorReporter(Msg::kFileWriteError);
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
    if (!ConvertPath(path, bstrFilename)) return E_FAIL;
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
}  // namespace

STDMETHODIMP WebMngMethods::DeleteFileEx(BSTR bstrPath, BSTR bstrFilename, LONG* plResult) {
    if (!plResult) return E_POINTER;
    *plResult = -2;
    if (!bstrPath) return FailWith(Msg::kPathNameNull);
    if (!bstrFilename) return FailWith(Msg::kFileNameNull);
    AnsiString path, pattern;
    if (!ConvertPath(path, bstrPath) || !ConvertPath(pattern, bstrFilename)) return E_FAIL;
    char szJoin[kcbJoin];
    *plResult = 0;
    // A pattern too long to form matches nothing.
    if (!JoinPath(szJoin, path.get(), pattern.get())) return S_OK;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(szJoin, &found));
    if (!search) return S_OK;
    bool bFailed = false;
    do {
        // The directory's own entries match any "*" pattern; they are no
        // files to delete.
        if (IsDotEntry(found.cFileName)) continue;
        // A path too long to form is not cut to another name: it cannot be
        // deleted, like any other failure.
        if (!JoinPath(szJoin, path.get(), found.cFileName)) {
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
    RPC_CSTR pszText = nullptr;
    UuidToStringA(&guid, &pszText);
    if (pszText) {
        *pbstrGUID = AnsiToWide(reinterpret_cast<const char*>(pszText));
        RpcStringFreeA(&pszText);
    }
    return S_OK;
}

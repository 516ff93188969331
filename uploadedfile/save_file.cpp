#include "uploadedfile/save_file.h"

#include <cstring>
#include <utility>

#include "platform/guid_text.h"

DWORD SaveBytes(const wchar_t* pszPath, bool bReplace, const unsigned char* pbBytes, std::uint64_t cbBytes) {
    // In pieces that a single WriteFile takes on every system.
    return WriteThroughSibling(pszPath, bReplace, cbBytes, 64u << 20,
                               [pbBytes](std::uint64_t cbDone, DWORD, const unsigned char** ppb) {
                                   *ppb = pbBytes + cbDone;
                                   return static_cast<DWORD>(ERROR_SUCCESS);
                               });
}

namespace {
bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

// Whether a path holds a "." or ".." component.
bool HasDotComponent(const wchar_t* pszPath) {
    for (const wchar_t* pch = pszPath; *pch; ++pch) {
        if (pch != pszPath && !IsSeparator(pch[-1])) continue;
        const int cchDots = pch[0] == L'.' ? (pch[1] == L'.' ? 2 : 1) : 0;
        if (cchDots > 0 && (pch[cchDots] == L'\0' || IsSeparator(pch[cchDots]))) return true;
    }
    return false;
}

// A device before a stream: "nul:x" is NUL to the system.
DWORD RefusedTarget(const wchar_t* pszPath) {
    if (NamesDevice(pszPath)) return kErrorSaveTargetDevice;
    return NamesStream(pszPath) ? kErrorSaveTargetStream : static_cast<DWORD>(ERROR_SUCCESS);
}
}  // namespace

ModuleBlock PathCopy(const wchar_t* pszPath) {
    const std::size_t cb = (static_cast<std::size_t>(lstrlenW(pszPath)) + 1) * sizeof(wchar_t);
    ModuleBlock copy(ModuleAlloc(cb));
    if (copy) std::memcpy(copy.get(), pszPath, cb);
    return copy;
}


DWORD SaveTargetPath(const wchar_t* pszPath, ModuleBlock* pFull) {
    DWORD dwRefused = RefusedTarget(pszPath);
    if (dwRefused != ERROR_SUCCESS) return dwRefused;
    if (pszPath[0] == L'\\' && pszPath[1] == L'\\' && pszPath[2] == L'?' && pszPath[3] == L'\\') {
        if (HasDotComponent(pszPath + 4)) return ERROR_BAD_PATHNAME;
        *pFull = PathCopy(pszPath);
        return *pFull ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
    }
    const DWORD cch = GetFullPathNameW(pszPath, 0, nullptr, nullptr);
    if (cch == 0) return GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_BAD_PATHNAME);
    ModuleBlock full(ModuleAlloc(cch * sizeof(wchar_t)));
    if (!full) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD cchFull = GetFullPathNameW(pszPath, cch, full.as<wchar_t>(), nullptr);
    if (cchFull == 0 || cchFull >= cch) return cchFull == 0 ? GetLastError() : static_cast<DWORD>(ERROR_BAD_PATHNAME);
    // Some systems give a device name its \\.\ form only here, and "//?/" its "\\?\".
    dwRefused = RefusedTarget(full.as<wchar_t>());
    if (dwRefused != ERROR_SUCCESS) return dwRefused;
    *pFull = std::move(full);
    return ERROR_SUCCESS;
}

BSTR ServerMadePath(const wchar_t* pchFolder, UINT cchFolder, const wchar_t* pszPrefix, const wchar_t* pszExtension) {
    GUID guid;
    wchar_t szGuid[kcchGuidText];
    if (FAILED(CoCreateGuid(&guid)) || !GuidToText(guid, GuidForm::kLowerBare, szGuid)) return nullptr;
    const bool bSeparator = cchFolder > 0 && (pchFolder[cchFolder - 1] == L'\\' || pchFolder[cchFolder - 1] == L'/');
    const UINT cchPrefix = static_cast<UINT>(lstrlenW(pszPrefix));
    const UINT cchExtension = static_cast<UINT>(lstrlenW(pszExtension));
    BSTR bstrPath = SysAllocStringLen(nullptr, cchFolder + (bSeparator ? 0 : 1) + cchPrefix + 36 + 1 + cchExtension);
    if (!bstrPath) return nullptr;
    wchar_t* pch = bstrPath;
    std::memcpy(pch, pchFolder, cchFolder * sizeof(wchar_t));
    pch += cchFolder;
    if (!bSeparator) *pch++ = L'\\';
    std::memcpy(pch, pszPrefix, cchPrefix * sizeof(wchar_t));
    pch += cchPrefix;
    std::memcpy(pch, szGuid, 36 * sizeof(wchar_t));
    pch += 36;
    *pch++ = L'.';
    std::memcpy(pch, pszExtension, (cchExtension + 1) * sizeof(wchar_t));
    return bstrPath;
}

UINT FolderLength(const wchar_t* pszFullPath) {
    UINT cchFolder = 0;
    for (UINT i = 0; pszFullPath[i]; ++i)
        if (IsSeparator(pszFullPath[i])) cchFolder = i;
    return cchFolder;
}

BSTR SiblingPath(const wchar_t* pszFullPath) {
    return ServerMadePath(pszFullPath, FolderLength(pszFullPath), L"varo-", L"tmp");
}

DWORD CreateSibling(const wchar_t* pszFullPath, UniqueBstr* pSibling, UniqueFileHandle* pFile) {
    pSibling->reset(SiblingPath(pszFullPath));
    if (!*pSibling) return ERROR_NOT_ENOUGH_MEMORY;
    // No sharing: nobody sees it half written. Marked until it is placed,
    // so that one a killed worker left can be told from a page's own file.
    pFile->reset(CreateFileW(pSibling->get(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             kUnplacedFileAttributes | kPageFileFlags, nullptr));
    if (!*pFile) return GetLastError();
    const DWORD dwError = MarkForDeletion(pFile->get(), true);
    if (dwError != ERROR_SUCCESS) {
        pFile->reset();
        DeleteFileW(pSibling->get());
    }
    return dwError;
}

DWORD PlaceFinishedFile(HANDLE hFile, const wchar_t* pszFullPath, bool bReplace) {
    DWORD dwError = MarkForDeletion(hFile, false);
    if (dwError == ERROR_SUCCESS) dwError = RenameOpenFile(hFile, pszFullPath, bReplace);
    // One answer for a name that is taken, as when a new file is made.
    if (dwError == ERROR_ALREADY_EXISTS) dwError = ERROR_FILE_EXISTS;
    if (dwError == ERROR_SUCCESS) {
        SetOpenFileAttributes(hFile, FILE_ATTRIBUTE_NORMAL);  // the page's file now
        return ERROR_SUCCESS;
    }
    MarkForDeletion(hFile, true);
    return dwError;
}

const wchar_t* HarmlessExtension(const wchar_t* pszExtension) {
    static const wchar_t* const kHarmless[] = {L"txt", L"csv", L"pdf", L"png", L"jpg", L"jpeg", L"gif", L"webp", L"zip"};
    for (const wchar_t* pszHarmless : kHarmless)
        if (lstrcmpW(pszExtension, pszHarmless) == 0) return pszHarmless;
    return L"bin";
}

#include "upload/save_file.h"

#include <cstring>
#include <cwctype>

DWORD SaveNewFile(const wchar_t* pszPath, const unsigned char* pbBytes, std::uint64_t cbBytes) {
    // In pieces that a single WriteFile takes on every system.
    return WriteNewFile(pszPath, cbBytes, 64u << 20, [pbBytes](std::uint64_t cbDone, DWORD, const unsigned char** ppb) {
        *ppb = pbBytes + cbDone;
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

namespace {
// A new GUID as 36 lower-case hex digits with hyphens.
bool GuidText(wchar_t (&szGuid)[37]) {
    GUID guid;
    wchar_t szBraced[40];
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, szBraced, 40) != 39) return false;
    for (int i = 0; i < 36; ++i) szGuid[i] = static_cast<wchar_t>(towlower(szBraced[i + 1]));
    szGuid[36] = L'\0';
    return true;
}
}  // namespace

BSTR ServerMadePath(const wchar_t* pchFolder, UINT cchFolder, const wchar_t* pszPrefix, const wchar_t* pszExtension) {
    wchar_t szGuid[37];
    if (!GuidText(szGuid)) return nullptr;
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

const wchar_t* HarmlessExtension(const wchar_t* pszExtension) {
    static const wchar_t* const kHarmless[] = {L"txt", L"csv", L"pdf", L"png", L"jpg", L"jpeg", L"gif", L"webp", L"zip"};
    for (const wchar_t* pszHarmless : kHarmless)
        if (lstrcmpW(pszExtension, pszHarmless) == 0) return pszHarmless;
    return L"bin";
}

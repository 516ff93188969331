#include "upload/save_file.h"

#include <cwctype>

DWORD SaveNewFile(const wchar_t* pszPath, const unsigned char* pbBytes, std::uint64_t cbBytes) {
    // In pieces that a single WriteFile takes on every system.
    return WriteNewFile(pszPath, cbBytes, 64u << 20, [pbBytes](std::uint64_t cbDone, DWORD, const unsigned char** ppb) {
        *ppb = pbBytes + cbDone;
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

bool GuidText(wchar_t (&szGuid)[37]) {
    GUID guid;
    wchar_t szBraced[40];
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, szBraced, 40) != 39) return false;
    for (int i = 0; i < 36; ++i) szGuid[i] = static_cast<wchar_t>(towlower(szBraced[i + 1]));
    szGuid[36] = L'\0';
    return true;
}

const wchar_t* HarmlessExtension(const wchar_t* pszExtension) {
    static const wchar_t* const kHarmless[] = {L"txt", L"csv", L"pdf", L"png", L"jpg", L"jpeg", L"gif", L"webp", L"zip"};
    for (const wchar_t* pszHarmless : kHarmless)
        if (lstrcmpW(pszExtension, pszHarmless) == 0) return pszHarmless;
    return L"bin";
}

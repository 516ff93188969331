#include <windows.h>

#include "platform/text_services.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's wide text is UTF-16");

int TextWideToAnsi(const char16_t* pszWide, char* pszAnsi, int cbAnsi) {
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(pszWide), -1, pszAnsi, cbAnsi, nullptr, nullptr);
}

#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x00000080
#endif

int TextWideToAnsiExact(const char16_t* pszWide, char* pszAnsi, int cbAnsi, bool* pbInexact) {
    *pbInexact = false;
    LPCWSTR pszSource = reinterpret_cast<LPCWSTR>(pszWide);
    if (GetACP() == CP_UTF8) {
        // UTF-8 holds every character; only a lone surrogate cannot pass, and
        // this code page takes no default-character query.
        int cb = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, pszSource, -1, pszAnsi, cbAnsi, nullptr, nullptr);
        if (cb == 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION) *pbInexact = true;
        return cb;
    }
    BOOL bUsedDefault = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pszSource, -1, pszAnsi, cbAnsi, nullptr, &bUsedDefault);
    if (bUsedDefault) {
        *pbInexact = true;
        return 0;
    }
    return cb;
}

int TextAnsiToWide(const char* pszAnsi, char16_t* pszWide, int cchWide) {
    return MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, reinterpret_cast<LPWSTR>(pszWide), cchWide);
}

const char* TextCharNext(const char* psz) { return CharNextA(psz); }

bool TextIsLeadByte(unsigned char ch) { return IsDBCSLeadByte(ch) != FALSE; }

int TextCompareNoCase(const char* psz1, const char* psz2) { return lstrcmpiA(psz1, psz2); }

#include <windows.h>

#include "server/text_services.h"

int TextWideToAnsi(const char16_t* pszWide, char* pszAnsi, int cbAnsi) {
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(pszWide), -1, pszAnsi, cbAnsi, nullptr, nullptr);
}

int TextAnsiToWide(const char* pszAnsi, char16_t* pszWide, int cchWide) {
    return MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, reinterpret_cast<LPWSTR>(pszWide), cchWide);
}

const char* TextCharNext(const char* psz) { return CharNextA(psz); }

bool TextIsLeadByte(unsigned char ch) { return IsDBCSLeadByte(ch) != FALSE; }

int TextCompareNoCase(const char* psz1, const char* psz2) { return lstrcmpiA(psz1, psz2); }

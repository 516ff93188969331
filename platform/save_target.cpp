#include "platform/save_target.h"

namespace {
bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

wchar_t Upper(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - L'a' + L'A') : ch; }

// Whether pch[0..cch) equals the upper-case ASCII name, ignoring case.
bool Is(const wchar_t* pch, int cch, const char* pszName) {
    int i = 0;
    for (; i < cch && pszName[i]; ++i)
        if (Upper(pch[i]) != static_cast<wchar_t>(pszName[i])) return false;
    return i == cch && !pszName[i];
}

bool IsDeviceName(const wchar_t* pch, int cch) {
    while (cch > 0 && pch[cch - 1] == L' ') --cch;
    if (cch == 3) return Is(pch, 3, "CON") || Is(pch, 3, "PRN") || Is(pch, 3, "AUX") || Is(pch, 3, "NUL");
    if (cch == 4 && (Is(pch, 3, "COM") || Is(pch, 3, "LPT"))) {
        const wchar_t digit = pch[3];
        // The superscripts one, two and three count as digits here too.
        return (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    }
    return Is(pch, cch, "CONIN$") || Is(pch, cch, "CONOUT$");
}
}  // namespace

bool NamesDevice(const wchar_t* pszPath) {
    if (!pszPath) return false;
    if (IsSeparator(pszPath[0]) && IsSeparator(pszPath[1]) && pszPath[2] == L'.' && IsSeparator(pszPath[3]))
        return true;
    for (const wchar_t* pch = pszPath; *pch;) {
        while (IsSeparator(*pch)) ++pch;
        const wchar_t* pchStart = pch;
        while (*pch && !IsSeparator(*pch)) ++pch;
        // A drive ("C:") has its colon at the end; a device name before ':' is a device.
        const wchar_t* pchEnd = pchStart;
        while (pchEnd < pch && *pchEnd != L'.' && *pchEnd != L':') ++pchEnd;
        if (pchEnd > pchStart && IsDeviceName(pchStart, static_cast<int>(pchEnd - pchStart))) return true;
    }
    return false;
}

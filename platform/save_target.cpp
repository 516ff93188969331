#include "platform/save_target.h"

namespace {
bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

wchar_t Upper(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - L'a' + L'A') : ch; }

bool IsLetter(wchar_t ch) { return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z'); }

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

// The length of the component that starts at pch.
int ComponentLength(const wchar_t* pch) {
    int cch = 0;
    while (pch[cch] && !IsSeparator(pch[cch])) ++cch;
    return cch;
}

// Whether the path starts with the two separators, the mark and a separator
// of \\.\, \\?\ or \??\ (either separator).
bool HasPrefix(const wchar_t* pszPath, wchar_t chFirst, wchar_t chMark) {
    return IsSeparator(pszPath[0]) && (chFirst == L'\\' ? IsSeparator(pszPath[1]) : pszPath[1] == chFirst) &&
           pszPath[2] == chMark && IsSeparator(pszPath[3]);
}

// Past "\\?\" only a drive (X:\...) and UNC\ reach files on disk.
bool IsDriveStart(const wchar_t* pch) { return IsLetter(pch[0]) && pch[1] == L':' && IsSeparator(pch[2]); }

// The share of a UNC path whose host starts at pchHost: a pipe or mailslot
// share is no file on disk.
bool IsIpcShare(const wchar_t* pchHost) {
    const int cchHost = ComponentLength(pchHost);
    if (cchHost == 0 || !IsSeparator(pchHost[cchHost])) return false;
    const wchar_t* pchShare = pchHost + cchHost + 1;
    const int cchShare = ComponentLength(pchShare);
    return Is(pchShare, cchShare, "PIPE") || Is(pchShare, cchShare, "MAILSLOT");
}

bool InOtherNamespace(const wchar_t* pszPath) {
    if (HasPrefix(pszPath, L'\\', L'.') || HasPrefix(pszPath, L'?', L'?')) return true;
    if (HasPrefix(pszPath, L'\\', L'?')) {
        const wchar_t* pch = pszPath + 4;
        if (IsDriveStart(pch)) return false;
        return !(Is(pch, ComponentLength(pch), "UNC") && IsSeparator(pch[3])) || IsIpcShare(pch + 4);
    }
    return IsSeparator(pszPath[0]) && IsSeparator(pszPath[1]) && IsIpcShare(pszPath + 2);
}
}  // namespace

bool NamesDevice(const wchar_t* pszPath) {
    if (!pszPath) return false;
    if (InOtherNamespace(pszPath)) return true;
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

bool NamesStream(const wchar_t* pszPath) {
    if (!pszPath) return false;
    const wchar_t* pch = pszPath;
    if (HasPrefix(pch, L'\\', L'?')) pch += 4;
    if (IsLetter(pch[0]) && pch[1] == L':') pch += 2;
    for (; *pch; ++pch)
        if (*pch == L':') return true;
    return false;
}

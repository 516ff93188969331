// Multibyte text as a new BSTR, in a given code page: the one conversion the
// methods' answers, the error messages and the registration paths share.
#pragma once
#include <windows.h>
#include <oleauto.h>

// cb bytes of pchText (cb < 0: up to its terminating NUL), zero bytes
// included, converted from uCodePage. Null for a null text or without
// memory (a null text of 0 bytes is the empty string); text the code page
// cannot convert gives an empty string. Text of ASCII bytes only is widened
// directly at CP_ACP (every ANSI code page spells ASCII as ASCII); other text
// is converted once.
BSTR MultiByteToBstr(UINT uCodePage, const char* pchText, int cb);

// Widens cb bytes to pwchOut (room for cb units) when every one is ASCII;
// false at the first byte that is not (pwchOut then holds a part).
bool WidenAscii(const char* pchText, int cb, WCHAR* pwchOut);

// Multibyte text as a new BSTR, in a given code page: the one conversion the
// methods' answers, the error messages and the registration paths share.
#pragma once
#include <windows.h>
#include <oleauto.h>

// cb bytes of pchText (cb < 0: up to its terminating NUL), zero bytes
// included, converted from uCodePage. Null for a null text or without
// memory; text the code page cannot convert gives an empty string.
BSTR MultiByteToBstr(UINT uCodePage, const char* pchText, int cb);

// What both classes need of a BSTR as text: its length prefix is its end,
// not its first zero character.
#pragma once
#include <windows.h>
#include <oleauto.h>

// A copy of the whole string, zero characters too; an empty string for null.
// Null without memory.
inline BSTR CopyBstr(BSTR bstr) { return SysAllocStringLen(bstr, SysStringLen(bstr)); }

// True when the string holds a zero character before the end its length
// prefix gives: a system call would stop there and silently drop the rest.
inline bool HasEmbeddedZero(BSTR bstr) {
    const UINT cch = SysStringLen(bstr);
    for (UINT i = 0; i < cch; ++i)
        if (bstr[i] == L'\0') return true;
    return false;
}

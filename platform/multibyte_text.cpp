#include "platform/multibyte_text.h"

#include <emmintrin.h>

#include <climits>
#include <cstring>

bool WidenAscii(const char* pchText, int cb, WCHAR* pwchOut) {
    const auto* pb = reinterpret_cast<const unsigned char*>(pchText);
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= cb; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb + i));
        if (_mm_movemask_epi8(bytes) != 0) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pwchOut + i), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pwchOut + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    for (; i < cb; ++i) {
        if (pb[i] >= 0x80) return false;
        pwchOut[i] = pb[i];
    }
    return true;
}

BSTR MultiByteToBstr(UINT uCodePage, const char* pchText, int cb) {
    // An empty text needs no address: a store with nothing in it has none.
    if (!pchText && cb != 0) return nullptr;
    if (cb < 0) {
        // Longer text than an int counts is refused, never cut.
        const std::size_t cbText = std::strlen(pchText);
        if (cbText > static_cast<std::size_t>(INT_MAX)) return nullptr;
        cb = static_cast<int>(cbText);
    }
    // No code page the methods use gives more UTF-16 units than bytes: the
    // string is made that long and the text converted once into it.
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cb));
    if (!bstr || cb == 0) return bstr;
    // Every ANSI code page spells ASCII as ASCII.
    if (uCodePage == CP_ACP && WidenAscii(pchText, cb, bstr)) return bstr;
    const int cch = MultiByteToWideChar(uCodePage, 0, pchText, cb, bstr, cb);
    if (cch == cb) return bstr;
    BSTR bstrExact = nullptr;
    if (cch > 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        // Fewer characters than bytes (double-byte characters), or text the
        // code page cannot convert (an empty string).
        bstrExact = SysAllocStringLen(bstr, static_cast<UINT>(cch));
    } else {
        const int cchNeeded = MultiByteToWideChar(uCodePage, 0, pchText, cb, nullptr, 0);
        bstrExact = SysAllocStringLen(nullptr, static_cast<UINT>(cchNeeded));
        if (bstrExact && cchNeeded > 0) MultiByteToWideChar(uCodePage, 0, pchText, cb, bstrExact, cchNeeded);
    }
    SysFreeString(bstr);
    return bstrExact;
}

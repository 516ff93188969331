#include "platform/multibyte_text.h"

#include <climits>
#include <cstring>

BSTR MultiByteToBstr(UINT uCodePage, const char* pchText, int cb) {
    if (!pchText) return nullptr;
    if (cb < 0) {
        // Longer text than an int counts is refused, never cut.
        const std::size_t cbText = std::strlen(pchText);
        if (cbText > static_cast<std::size_t>(INT_MAX)) return nullptr;
        cb = static_cast<int>(cbText);
    }
    // The size is computed once, the text converted once into the string.
    const int cch = cb > 0 ? MultiByteToWideChar(uCodePage, 0, pchText, cb, nullptr, 0) : 0;
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
    if (bstr && cch > 0) MultiByteToWideChar(uCodePage, 0, pchText, cb, bstr, cch);
    return bstr;
}

#include "platform/multibyte_text.h"

#include <cstring>

BSTR MultiByteToBstr(UINT uCodePage, const char* pchText, int cb) {
    if (!pchText) return nullptr;
    if (cb < 0) cb = static_cast<int>(std::strlen(pchText));
    // The size is computed once, the text converted once into the string.
    const int cch = cb > 0 ? MultiByteToWideChar(uCodePage, 0, pchText, cb, nullptr, 0) : 0;
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
    if (bstr && cch > 0) MultiByteToWideChar(uCodePage, 0, pchText, cb, bstr, cch);
    return bstr;
}

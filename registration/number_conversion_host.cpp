#include "registration/number_conversion.h"

namespace {
int DigitValue(char16_t ch, unsigned nBase) {
    int n = -1;
    if (ch >= u'0' && ch <= u'9') n = ch - u'0';
    else if (ch >= u'a' && ch <= u'f') n = ch - u'a' + 10;
    else if (ch >= u'A' && ch <= u'F') n = ch - u'A' + 10;
    return n >= 0 && static_cast<unsigned>(n) < nBase ? n : -1;
}
}  // namespace

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult) {
    const char16_t* p = pszText;
    unsigned nBase = 10;
    // 0x as agreed for the host; &H as the system conversion reads hexadecimal.
    if ((p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) || (p[0] == u'&' && (p[1] == u'h' || p[1] == u'H'))) {
        nBase = 16;
        p += 2;
    }
    if (!*p) return DISP_E_TYPEMISMATCH;
    std::uint64_t ullValue = 0;
    for (; *p; ++p) {
        int nDigit = DigitValue(*p, nBase);
        if (nDigit < 0) return DISP_E_TYPEMISMATCH;
        ullValue = ullValue * nBase + static_cast<unsigned>(nDigit);
        if (ullValue > 0xFFFFFFFFull) return DISP_E_OVERFLOW;
    }
    *pulResult = static_cast<std::uint32_t>(ullValue);
    return S_OK;
}

// The host's reading of "D" numbers, as the system conversion reads the forms
// a registry script holds: blanks around the text, an optional sign, decimal
// digits with an optional fraction and exponent (rounded half to even), or
// &H hexadecimal and &O octal digits. C's 0x is not a number there.
#include "platform/number_conversion.h"

#include <string>

namespace {
constexpr std::uint64_t kMaxValue = 0xFFFFFFFFull;

bool IsBlank(char16_t ch) { return ch == u' ' || ch == u'\t' || ch == u'\r' || ch == u'\n' || ch == u'\u00A0'; }
bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

int DigitValue(char16_t ch, unsigned nBase) {
    int n = -1;
    if (IsDigit(ch)) n = ch - u'0';
    else if (ch >= u'a' && ch <= u'f') n = ch - u'a' + 10;
    else if (ch >= u'A' && ch <= u'F') n = ch - u'A' + 10;
    return n >= 0 && static_cast<unsigned>(n) < nBase ? n : -1;
}

// &H or &O digits up to pEnd.
HRESULT ReadRadix(const char16_t* p, const char16_t* pEnd, unsigned nBase, std::uint32_t* pulResult) {
    if (p == pEnd) return DISP_E_TYPEMISMATCH;
    std::uint64_t ullValue = 0;
    for (; p < pEnd; ++p) {
        int nDigit = DigitValue(*p, nBase);
        if (nDigit < 0) return DISP_E_TYPEMISMATCH;
        ullValue = ullValue * nBase + static_cast<unsigned>(nDigit);
        if (ullValue > kMaxValue) return DISP_E_OVERFLOW;
    }
    *pulResult = static_cast<std::uint32_t>(ullValue);
    return S_OK;
}

// [sign] digits [. digits] [e [sign] digits] up to pEnd, rounded half to even.
HRESULT ReadDecimal(const char16_t* p, const char16_t* pEnd, std::uint32_t* pulResult) {
    bool bNegative = false;
    if (p < pEnd && (*p == u'+' || *p == u'-')) bNegative = *p++ == u'-';
    std::string digits;  // significant digits, the point removed
    long lExponent = 0;  // value = digits x 10^lExponent
    bool bAnyDigit = false;
    for (; p < pEnd && IsDigit(*p); ++p, bAnyDigit = true) digits += static_cast<char>(*p);
    if (p < pEnd && *p == u'.') {
        for (++p; p < pEnd && IsDigit(*p); ++p, bAnyDigit = true) {
            digits += static_cast<char>(*p);
            --lExponent;
        }
    }
    if (!bAnyDigit) return DISP_E_TYPEMISMATCH;
    if (p < pEnd && (*p == u'e' || *p == u'E')) {
        ++p;
        bool bExpNegative = false;
        if (p < pEnd && (*p == u'+' || *p == u'-')) bExpNegative = *p++ == u'-';
        if (p == pEnd || !IsDigit(*p)) return DISP_E_TYPEMISMATCH;
        long lExp = 0;
        for (; p < pEnd && IsDigit(*p); ++p) lExp = lExp < 100000 ? lExp * 10 + (*p - u'0') : lExp;
        lExponent += bExpNegative ? -lExp : lExp;
    }
    if (p != pEnd) return DISP_E_TYPEMISMATCH;

    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.empty()) {
        *pulResult = 0;
        return S_OK;
    }
    // Whole part and the first dropped digit (with whether any other follows).
    const long lWhole = static_cast<long>(digits.size()) + lExponent;
    if (lWhole > 10) return DISP_E_OVERFLOW;
    std::uint64_t ullValue = 0;
    for (long i = 0; i < lWhole; ++i)
        ullValue = ullValue * 10 + (i < static_cast<long>(digits.size()) ? digits[i] - '0' : 0);
    int nDropped = 0;  // below 0.1 (lWhole < 0) the value rounds to 0
    bool bMoreDropped = false;
    if (lWhole >= 0 && lWhole < static_cast<long>(digits.size())) {
        nDropped = digits[lWhole] - '0';
        for (std::size_t i = static_cast<std::size_t>(lWhole) + 1; i < digits.size(); ++i)
            bMoreDropped = bMoreDropped || digits[i] != '0';
    }
    if (nDropped > 5 || (nDropped == 5 && (bMoreDropped || (ullValue & 1)))) ++ullValue;
    if (ullValue > kMaxValue) return DISP_E_OVERFLOW;
    if (bNegative && ullValue != 0) return DISP_E_OVERFLOW;
    *pulResult = static_cast<std::uint32_t>(ullValue);
    return S_OK;
}
}  // namespace

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult) {
    const char16_t* p = pszText;
    while (IsBlank(*p)) ++p;
    const char16_t* pEnd = p;
    while (*pEnd) ++pEnd;
    while (pEnd > p && IsBlank(pEnd[-1])) --pEnd;
    if (pEnd - p >= 2 && p[0] == u'&') {
        if (p[1] == u'h' || p[1] == u'H') return ReadRadix(p + 2, pEnd, 16, pulResult);
        if (p[1] == u'o' || p[1] == u'O') return ReadRadix(p + 2, pEnd, 8, pulResult);
    }
    return ReadDecimal(p, pEnd, pulResult);
}

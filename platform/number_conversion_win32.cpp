#include "platform/number_conversion.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's wide text is UTF-16");

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult) {
    ULONG ulValue = 0;
    // The text is only read; some SDK headers declare the parameter non-const.
    auto pszOle = const_cast<OLECHAR*>(reinterpret_cast<const OLECHAR*>(pszText));
    HRESULT hr = VarUI4FromStr(pszOle, 0, 0, &ulValue);
    if (SUCCEEDED(hr)) *pulResult = ulValue;
    return hr;
}

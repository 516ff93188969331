#include "platform/number_conversion.h"

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult) {
    ULONG ulValue = 0;
    // The text is only read; some SDK headers declare the parameter non-const.
    auto pszOle = const_cast<OLECHAR*>(reinterpret_cast<const OLECHAR*>(pszText));
    HRESULT hr = VarUI4FromStr(pszOle, 0, 0, &ulValue);
    if (SUCCEEDED(hr)) *pulResult = ulValue;
    return hr;
}

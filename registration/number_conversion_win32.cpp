#include "registration/number_conversion.h"

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult) {
    ULONG ulValue = 0;
    HRESULT hr = VarUI4FromStr(reinterpret_cast<const OLECHAR*>(pszText), 0, 0, &ulValue);
    if (SUCCEEDED(hr)) *pulResult = ulValue;
    return hr;
}

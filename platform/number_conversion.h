// Text to number conversion for "D" values: VarUI4FromStr with locale 0 and
// no flags on Windows; the host reads the same forms the same way (blanks
// around, sign, decimal with fraction and exponent, &H and &O, never 0x).
#pragma once
#include "platform/win32_types.h"

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult);

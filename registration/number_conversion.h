// Text to number conversion for "D" values: VarUI4FromStr with locale 0 and
// no flags on Windows. The host accepts decimal digits, and hexadecimal digits
// after 0x or &H (the system conversion takes &H but not 0x).
#pragma once
#include "registration/registry_types.h"

HRESULT NumberUI4FromStr(const char16_t* pszText, std::uint32_t* pulResult);

// The bytes of a VT_ARRAY|VT_UI1 variant, for the tests' comparisons.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

inline std::string BytesOf(const VARIANT& var) {
    if (var.vt != (VT_ARRAY | VT_UI1) || !var.parray) return std::string();
    void* pv = nullptr;
    if (FAILED(SafeArrayAccessData(var.parray, &pv))) return std::string();
    std::string bytes(static_cast<const char*>(pv), var.parray->rgsabound[0].cElements);
    SafeArrayUnaccessData(var.parray);
    return bytes;
}

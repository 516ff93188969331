// Optional arguments as a script passes them through the vtable.
#pragma once
#include <windows.h>
#include <oleauto.h>

// An optional argument left out, as a script's call leaves it.
inline VARIANT Missing() {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_ERROR;
    var.scode = DISP_E_PARAMNOTFOUND;
    return var;
}

inline VARIANT Bool(bool b) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BOOL;
    var.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return var;
}

#include "server/out_arguments.h"

#include "platform/win32_owners.h"

namespace {
bool IsOutVariant(const ELEMDESC& param) {
    const USHORT wFlags = param.paramdesc.wParamFlags;
    return (wFlags & PARAMFLAG_FOUT) && !(wFlags & (PARAMFLAG_FIN | PARAMFLAG_FRETVAL)) &&
           param.tdesc.vt == VT_PTR && param.tdesc.lptdesc && param.tdesc.lptdesc->vt == VT_VARIANT;
}

// The argument that carries parameter iParam, or null: named arguments first,
// positional ones in reverse order.
const VARIANT* ArgumentFor(const DISPPARAMS& params, UINT iParam) {
    for (UINT i = 0; i < params.cNamedArgs; ++i)
        if (params.rgdispidNamedArgs[i] == static_cast<DISPID>(iParam)) return &params.rgvarg[i];
    const UINT cPositional = params.cArgs - params.cNamedArgs;
    return iParam < cPositional ? &params.rgvarg[params.cArgs - 1 - iParam] : nullptr;
}

// True when an argument other than pSelf refers to the same variable: the
// method may still read it (GetFileInfo body, "x", body, ...).
bool SharedWithAnother(const DISPPARAMS& params, const VARIANT* pSelf, const void* pvTarget) {
    for (UINT i = 0; i < params.cArgs; ++i) {
        const VARIANT& other = params.rgvarg[i];
        if (&other != pSelf && (other.vt & VT_BYREF) && other.byref == pvTarget) return true;
    }
    return false;
}

UINT FunctionCount(ITypeInfo* pTypeInfo) {
    TypeAttrBlock attr(pTypeInfo);
    return SUCCEEDED(pTypeInfo->GetTypeAttr(attr.put())) && attr ? attr->cFuncs : 0;
}

void ClearFor(const FUNCDESC& func, const DISPPARAMS& params) {
    // Only a call that will reach the method: with a wrong argument count the
    // call fails and the caller's variables must stay as they were.
    UINT cExpected = 0;
    for (SHORT i = 0; i < func.cParams; ++i)
        if (!(func.lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++cExpected;
    if (params.cArgs != cExpected) return;
    for (SHORT i = 0; i < func.cParams; ++i) {
        if (!IsOutVariant(func.lprgelemdescParam[i])) continue;
        const VARIANT* pArg = ArgumentFor(params, static_cast<UINT>(i));
        if (!pArg || pArg->vt != (VT_BYREF | VT_VARIANT) || !pArg->pvarVal) continue;
        if (SharedWithAnother(params, pArg, pArg->pvarVal)) continue;
        VariantClear(pArg->pvarVal);
    }
}
}  // namespace

void ClearOutArguments(ITypeInfo* pTypeInfo, DISPID dispIdMember, WORD wFlags, const DISPPARAMS* pDispParams) {
    if (!(wFlags & DISPATCH_METHOD) || !pDispParams || pDispParams->cArgs == 0 || !pDispParams->rgvarg) return;
    if (pDispParams->cNamedArgs && !pDispParams->rgdispidNamedArgs) return;
    bool bAnyByReference = false;
    for (UINT i = 0; i < pDispParams->cArgs; ++i)
        bAnyByReference = bAnyByReference || pDispParams->rgvarg[i].vt == (VT_BYREF | VT_VARIANT);
    if (!bAnyByReference) return;
    const UINT cFuncs = FunctionCount(pTypeInfo);
    for (UINT i = 0; i < cFuncs; ++i) {
        FuncDescBlock func(pTypeInfo);
        if (FAILED(pTypeInfo->GetFuncDesc(i, func.put())) || !func) continue;
        if (func->memid != dispIdMember || !(func->invkind & INVOKE_FUNC)) continue;
        ClearFor(*func.get(), *pDispParams);
        return;
    }
}

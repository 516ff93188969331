#include "server/out_arguments.h"

namespace {
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

// The method (not a property) of that DISPID, or null.
const NameEntry* MethodEntry(const TypeInfoCache& cache, DISPID dispIdMember) {
    for (LONG i = 0; i < cache.nNameCount; ++i) {
        const NameEntry& entry = cache.pNameTable[i];
        if (entry.dispid == dispIdMember && (entry.wInvokeKind & INVOKE_FUNC)) return &entry;
    }
    return nullptr;
}
}  // namespace

void ClearOutArguments(const TypeInfoCache& cache, DISPID dispIdMember, WORD wFlags, const DISPPARAMS* pDispParams) {
    if (!(wFlags & DISPATCH_METHOD) || !pDispParams || pDispParams->cArgs == 0 || !pDispParams->rgvarg) return;
    if (pDispParams->cNamedArgs && !pDispParams->rgdispidNamedArgs) return;
    const NameEntry* pEntry = MethodEntry(cache, dispIdMember);
    // Only a call that will reach the method: with a wrong argument count the
    // call fails and the caller's variables must stay as they were.
    if (!pEntry || !pEntry->dwOutVariants || pDispParams->cArgs != pEntry->cArguments) return;
    for (UINT i = 0; i < 32; ++i) {
        if (!(pEntry->dwOutVariants & (1u << i))) continue;
        const VARIANT* pArg = ArgumentFor(*pDispParams, i);
        if (!pArg || pArg->vt != (VT_BYREF | VT_VARIANT) || !pArg->pvarVal) continue;
        if (SharedWithAnother(*pDispParams, pArg, pArg->pvarVal)) continue;
        VariantClear(pArg->pvarVal);
    }
}

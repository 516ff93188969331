#include "server/dispatch.h"

#include <cstring>

#include "server/out_arguments.h"
#include "server/type_info_cache.h"

namespace {
// The loaded type information, loading it first if needed; null with the
// load's status in *phr when that fails.
ITypeInfo* RequireTypeInfo(TypeInfoCache& cache, LCID lcid, HRESULT* phr) {
    *phr = S_OK;
    ITypeInfo* pTypeInfo = LoadedTypeInfo(cache);
    if (pTypeInfo) return pTypeInfo;
    *phr = LoadTypeInfo(cache, lcid);
    return LoadedTypeInfo(cache);
}

// Exact, case-sensitive match of a member name, newest entry first.
const NameEntry* FindName(const TypeInfoCache& cache, const wchar_t* pszName) {
    UINT nLength = static_cast<UINT>(lstrlenW(pszName));
    for (LONG i = cache.nNameCount - 1; i >= 0; --i) {
        const NameEntry& entry = cache.pNameTable[i];
        if (entry.bstrName && entry.nLength == nLength &&
            std::memcmp(entry.bstrName, pszName, nLength * sizeof(wchar_t)) == 0)
            return &entry;
    }
    return nullptr;
}
}  // namespace

HRESULT DispatchGetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

// Every index gives the one type information there is.
HRESULT DispatchGetTypeInfo(TypeInfoCache& cache, LCID lcid, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    HRESULT hr;
    ITypeInfo* pTypeInfo = RequireTypeInfo(cache, lcid, &hr);
    *ppTInfo = pTypeInfo;
    if (!pTypeInfo) return hr;
    pTypeInfo->AddRef();
    return S_OK;
}

// The table holds member names only: a miss (other letter case, a parameter
// name) hands the whole request to the type information.
HRESULT DispatchGetIDsOfNames(TypeInfoCache& cache, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) {
    HRESULT hr;
    ITypeInfo* pTypeInfo = RequireTypeInfo(cache, lcid, &hr);
    if (!pTypeInfo) return hr;
    if (static_cast<INT>(cNames) > 0 && (!rgszNames || !rgDispId)) return E_POINTER;
    for (INT i = 0; i < static_cast<INT>(cNames); ++i) {
        const NameEntry* pEntry = rgszNames[i] ? FindName(cache, rgszNames[i]) : nullptr;
        if (pEntry) {
            rgDispId[i] = pEntry->dispid;
            continue;
        }
        hr = pTypeInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

HRESULT DispatchInvoke(TypeInfoCache& cache, void* pvInterface, DISPID dispIdMember, LCID lcid, WORD wFlags,
                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    HRESULT hr;
    ITypeInfo* pTypeInfo = RequireTypeInfo(cache, lcid, &hr);
    if (!pTypeInfo) return hr;
    if (!pDispParams) return E_POINTER;
    ClearOutArguments(cache, dispIdMember, wFlags, pDispParams);
    hr = pTypeInfo->Invoke(pvInterface, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    // JScript reads a property that takes arguments (up.Item("x"), up("x"))
    // with a method call; the type information knows it only as a property.
    if (hr == DISP_E_MEMBERNOTFOUND && wFlags == DISPATCH_METHOD)
        hr = pTypeInfo->Invoke(pvInterface, dispIdMember, DISPATCH_PROPERTYGET, pDispParams, pVarResult, pExcepInfo,
                               puArgErr);
    return hr;
}

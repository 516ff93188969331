#include "script_object.h"

STDMETHODIMP ScriptObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ScriptObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) ScriptObject::Release() {
    LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP ScriptObject::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP ScriptObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP ScriptObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0) return S_OK;
    if (!rgszNames || !rgDispId) return E_POINTER;
    HRESULT hr = DISP_E_UNKNOWNNAME;
    rgDispId[0] = DISPID_UNKNOWN;
    for (UINT i = 0; i < m_cMembers; ++i) {
        if (rgszNames[0] && lstrcmpiW(rgszNames[0], m_pMembers[i].pszName) == 0) {
            rgDispId[0] = m_pMembers[i].dispid;
            hr = S_OK;
            break;
        }
    }
    // No member takes named arguments.
    for (UINT i = 1; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP ScriptObject::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                  VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!pDispParams || (pDispParams->cArgs && !pDispParams->rgvarg)) return E_INVALIDARG;
    const ScriptMember* pMember = nullptr;
    for (UINT i = 0; i < m_cMembers && !pMember; ++i) {
        if (m_pMembers[i].dispid == dispIdMember) pMember = &m_pMembers[i];
    }
    if (!pMember) return DISP_E_MEMBERNOTFOUND;

    UINT cPositional = pDispParams->cArgs;
    WORD kind;
    if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (!(pMember->wFlags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;
        if (pDispParams->cNamedArgs != 1 || !pDispParams->rgdispidNamedArgs ||
            pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return pDispParams->cNamedArgs ? DISP_E_NONAMEDARGS : DISP_E_PARAMNOTOPTIONAL;
        cPositional = pDispParams->cArgs - 1;
        kind = DISPATCH_PROPERTYPUT;
    } else {
        kind = wFlags & pMember->wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET);
        if (!kind) return DISP_E_MEMBERNOTFOUND;
        if (pDispParams->cNamedArgs) return DISP_E_NONAMEDARGS;
    }
    if (cPositional < pMember->cArgs || cPositional > pMember->cArgs + pMember->cOptional) return DISP_E_BADPARAMCOUNT;

    ScopedVariant scratch;
    VARIANT* pResult = pVarResult ? pVarResult : scratch.get();
    VariantInit(pResult);
    UINT uArgErr = 0;
    HRESULT hr = Call(dispIdMember, kind, ScriptArgs(pDispParams, cPositional), pResult, pExcepInfo,
                      puArgErr ? puArgErr : &uArgErr);
    if (FAILED(hr)) VariantClear(pResult);
    return hr;
}

HRESULT ScriptObject::RaiseError(EXCEPINFO* pExcepInfo, const wchar_t* pszMember, const std::wstring& description,
                                 HRESULT scode) const {
    if (!pExcepInfo) return scode;
    ZeroMemory(pExcepInfo, sizeof *pExcepInfo);
    std::wstring source = std::wstring(m_pszObjectName) + L"." + pszMember;
    pExcepInfo->bstrSource = SysAllocString(source.c_str());
    pExcepInfo->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    pExcepInfo->scode = scode;
    return DISP_E_EXCEPTION;
}

HRESULT VariantText(const VARIANT* pvar, std::wstring& text) {
    ScopedVariant copy;
    HRESULT hr = VariantCopyInd(copy.get(), const_cast<VARIANT*>(pvar));
    if (FAILED(hr)) return hr;
    VARTYPE vt = V_VT(copy.get());
    if (vt == VT_EMPTY || vt == VT_NULL) {
        text.clear();
        return S_OK;
    }
    hr = VariantChangeType(copy.get(), copy.get(), VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) return hr;
    BSTR bstr = V_BSTR(copy.get());
    text.assign(bstr ? bstr : L"", SysStringLen(bstr));
    return S_OK;
}

HRESULT VariantLong(const VARIANT* pvar, LONG& value) {
    ScopedVariant copy;
    HRESULT hr = VariantCopyInd(copy.get(), const_cast<VARIANT*>(pvar));
    if (SUCCEEDED(hr)) hr = VariantChangeType(copy.get(), copy.get(), 0, VT_I4);
    if (FAILED(hr)) return hr;
    value = V_I4(copy.get());
    return S_OK;
}

HRESULT ReturnText(VARIANT* pvarResult, const std::wstring& text) {
    BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!bstr) return E_OUTOFMEMORY;
    V_VT(pvarResult) = VT_BSTR;
    V_BSTR(pvarResult) = bstr;
    return S_OK;
}

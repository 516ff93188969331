// IDispatch through the type information of a dual interface: late-bound
// calls reach the interface's own vtable methods. One cache of type
// information per interface, shared by every object that carries it.
#pragma once
#include "server/type_info_cache.h"
#include "upload/upload_methods.h"
#include "webmng/webmng_methods.h"

HRESULT DispatchGetTypeInfoCount(UINT* pctinfo);
HRESULT DispatchGetTypeInfo(TypeInfoCache& cache, LCID lcid, ITypeInfo** ppTInfo);
HRESULT DispatchGetIDsOfNames(TypeInfoCache& cache, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
HRESULT DispatchInvoke(TypeInfoCache& cache, void* pvInterface, DISPID dispIdMember, LCID lcid, WORD wFlags,
                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

// The IDispatch operations of Methods (a class deriving from the dual
// interface Interface), dispatched through Cache.
template <class Methods, class Interface, TypeInfoCache& Cache>
class DispatchThrough : public Methods {
public:
    using Methods::Methods;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override { return DispatchGetTypeInfoCount(pctinfo); }
    // Every index gives the one type information there is.
    STDMETHODIMP GetTypeInfo(UINT /*iTInfo*/, LCID lcid, ITypeInfo** ppTInfo) override {
        return DispatchGetTypeInfo(Cache, lcid, ppTInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override {
        return DispatchGetIDsOfNames(Cache, rgszNames, cNames, lcid, rgDispId);
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID /*riid*/, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        return DispatchInvoke(Cache, static_cast<Interface*>(this), dispIdMember, lcid, wFlags, pDispParams,
                              pVarResult, pExcepInfo, puArgErr);
    }
};

using WebMngDispatch = DispatchThrough<WebMngMethods, IWebMng, g_TypeInfoCache>;

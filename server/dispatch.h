// IDispatch through the type information of a dual interface: late-bound
// calls reach the interface's own vtable methods. One cache of type
// information per interface, shared by every object that carries it.
#pragma once
#include "server/type_info_cache.h"

HRESULT DispatchGetTypeInfoCount(UINT* pctinfo);
HRESULT DispatchGetTypeInfo(TypeInfoCache& cache, LCID lcid, ITypeInfo** ppTInfo);
HRESULT DispatchGetIDsOfNames(TypeInfoCache& cache, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
HRESULT DispatchInvoke(TypeInfoCache& cache, void* pvInterface, DISPID dispIdMember, LCID lcid, WORD wFlags,
                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

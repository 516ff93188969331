// What every object of the module carries besides IUnknown: its dual
// interface (the feature's methods, and IDispatch through the interface's
// type information) and ISupportErrorInfo, which names that interface, the
// one the methods publish error information on.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "server/dispatch.h"
#include "server/interface_table.h"
#include "server/type_info_cache.h"

// IID_ISupportErrorInfo, defined here: the import library's member that
// holds it brings some 6 KB of other GUIDs into the DLL.
inline constexpr IID kIidSupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B,
                                             {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// Methods derives from Interface, the dual interface *InterfaceId. IUnknown
// is left to the object's identity: its own count (CountedObject) or an
// outer object's.
template <class Methods, class Interface, const IID* InterfaceId>
class DualInterfaces : public Methods, public ISupportErrorInfo {
public:
    using Methods::Methods;

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override { return DispatchGetTypeInfoCount(pctinfo); }
    // Every index gives the one type information there is.
    STDMETHODIMP GetTypeInfo(UINT /*iTInfo*/, LCID lcid, ITypeInfo** ppTInfo) override {
        return DispatchGetTypeInfo(g_InterfaceTypeInfo<InterfaceId>, lcid, ppTInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override {
        return DispatchGetIDsOfNames(g_InterfaceTypeInfo<InterfaceId>, rgszNames, cNames, lcid, rgDispId);
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID /*riid*/, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        return DispatchInvoke(g_InterfaceTypeInfo<InterfaceId>, static_cast<Interface*>(this), dispIdMember, lcid,
                              wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, *InterfaceId) ? S_OK : S_FALSE;
    }

    // QueryInterface's answer from the rows below; IUnknown is the dual
    // interface, whichever the caller holds.
    HRESULT FindInterface(REFIID riid, void** ppv) { return InterfaceTableLookup(this, kInterfaces, riid, ppv); }

private:
    static const InterfaceTableEntry kInterfaces[];
};

template <class Methods, class Interface, const IID* InterfaceId>
const InterfaceTableEntry DualInterfaces<Methods, Interface, InterfaceId>::kInterfaces[] = {
    {InterfaceId, InterfaceOf<DualInterfaces, Interface>},
    {&IID_IDispatch, InterfaceOf<DualInterfaces, Interface>},
    {&kIidSupportErrorInfo, InterfaceOf<DualInterfaces, ISupportErrorInfo>},
    {nullptr, nullptr},
};

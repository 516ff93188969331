#include "server/webmng_object.h"

#include "server/counted_object.h"

#include "platform/module_object.h"
#include "platform/module_state.h"

namespace {
// IID_ISupportErrorInfo, defined here: the import library's member that
// holds it brings some 6 KB of other GUIDs into the DLL.
constexpr IID kIidSupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
}  // namespace

const InterfaceTableEntry g_WebMngInterfaceTable[] = {
    {&IID_IWebMng, InterfaceOf<WebMngInterfaces, IWebMng>},
    {&IID_IDispatch, InterfaceOf<WebMngInterfaces, IWebMng>},
    {&kIidSupportErrorInfo, InterfaceOf<WebMngInterfaces, ISupportErrorInfo>},
    {nullptr, nullptr},
};

namespace {
// The interfaces on which the methods publish error information.
const IID* const kErrorInfoInterfaces[] = {&IID_IWebMng};

HRESULT LookupWebMng(WebMngInterfaces* pObject, REFIID riid, void** ppv) {
    return InterfaceTableLookup(pObject, g_WebMngInterfaceTable, riid, ppv);
}
}  // namespace

STDMETHODIMP WebMngInterfaces::InterfaceSupportsErrorInfo(REFIID riid) {
    for (const IID* pInterfaceId : kErrorInfoInterfaces)
        if (IsEqualIID(*pInterfaceId, riid)) return S_OK;
    return S_FALSE;
}

STDMETHODIMP WebMng::QueryInterface(REFIID riid, void** ppv) { return LookupWebMng(this, riid, ppv); }

STDMETHODIMP_(ULONG) WebMng::AddRef() { return static_cast<ULONG>(++m_lRefCount); }

// The memory goes back before the module lock does: once the count is 0 the
// host may unload the module.
STDMETHODIMP_(ULONG) WebMng::Release() {
    LONG lCount = --m_lRefCount;
    if (lCount == 0) {
        ModuleDelete(this);
        UnlockModule();
    }
    return static_cast<ULONG>(lCount);
}

// The outer object answers first. What it refuses, the part still answers
// from its own table: outer objects written for this class rely on reaching
// the part's interfaces through it. An outer pointer that is the part itself
// gets its own answer back, so the table is not asked twice.
STDMETHODIMP ContainedWebMng::QueryInterface(REFIID riid, void** ppv) {
    HRESULT hr = m_pOuter->QueryInterface(riid, ppv);
    if (FAILED(hr) && m_pOuter != static_cast<IUnknown*>(static_cast<IWebMng*>(this)))
        return LookupWebMng(this, riid, ppv);
    return hr;
}

STDMETHODIMP_(ULONG) ContainedWebMng::AddRef() { return m_pOuter->AddRef(); }

STDMETHODIMP_(ULONG) ContainedWebMng::Release() { return m_pOuter->Release(); }

STDMETHODIMP WebMngAggregate::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown)) {
        if (!ppv) return E_POINTER;
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    // The contained part's interfaces: their AddRef goes to the outer object.
    return LookupWebMng(&m_contained, riid, ppv);
}

STDMETHODIMP_(ULONG) WebMngAggregate::AddRef() { return static_cast<ULONG>(++m_lRefCount); }

STDMETHODIMP_(ULONG) WebMngAggregate::Release() {
    LONG lCount = --m_lRefCount;
    if (lCount == 0) {
        ModuleDelete(this);
        UnlockModule();
    }
    return static_cast<ULONG>(lCount);
}

HRESULT CreateWebMng(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (pOuter) {
        WebMngAggregate* pAggregate = ModuleNew<WebMngAggregate>(pOuter);
        if (!pAggregate) return E_OUTOFMEMORY;
        return DeliverObject(pAggregate, riid, ppv);
    }
    WebMng* pObject = ModuleNew<WebMng>();
    if (!pObject) return E_OUTOFMEMORY;
    return DeliverObject(pObject, riid, ppv);
}

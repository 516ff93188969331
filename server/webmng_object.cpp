#include "server/webmng_object.h"

#include "resources/varo_interfaces.h"
#include "server/counted_object.h"
#include "server/dual_interfaces.h"
#include "webmng/webmng_methods.h"

namespace {
using WebMngInterfaces = DualInterfaces<WebMngMethods, IWebMng, &IID_IWebMng>;

// The part inside an aggregate: its IUnknown belongs to the outer object.
class ContainedWebMng final : public WebMngInterfaces {
public:
    explicit ContainedWebMng(IUnknown* pOuterUnknown) : m_pOuter(pOuterUnknown) {}

    // The outer object answers first. What it refuses, the part still
    // answers from its own table: outer objects written for this class rely
    // on reaching the part's interfaces through it. An outer pointer that is
    // the part itself gets its own answer back, so the table is not asked
    // twice.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        const HRESULT hr = m_pOuter->QueryInterface(riid, ppv);
        if (FAILED(hr) && m_pOuter != static_cast<IUnknown*>(static_cast<IWebMng*>(this)))
            return FindInterface(riid, ppv);
        return hr;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_pOuter->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pOuter->Release(); }

private:
    IUnknown* m_pOuter;  // not counted: the outer object holds us
};

// What the outer object holds: the non-delegating unknown, which answers
// IUnknown itself and every other interface with the part's (whose AddRef
// goes to the outer object).
class WebMngAggregateShape : public IUnknown {
public:
    explicit WebMngAggregateShape(IUnknown* pOuter) : m_contained(pOuter) {}

    HRESULT FindInterface(REFIID riid, void** ppv) {
        if (!IsEqualIID(riid, IID_IUnknown)) return m_contained.FindInterface(riid, ppv);
        if (!ppv) return E_POINTER;
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }

private:
    ContainedWebMng m_contained;
};

using WebMngObject = CountedObject<WebMngInterfaces>;
using WebMngAggregateObject = CountedObject<WebMngAggregateShape>;
}  // namespace

HRESULT CreateWebMng(IUnknown* pOuter, REFIID riid, void** ppv) {
    return pOuter ? WebMngAggregateObject::Create(riid, ppv, pOuter) : WebMngObject::Create(riid, ppv);
}

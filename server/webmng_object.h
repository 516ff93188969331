// WebMng as the object model sees it: the standalone object, and the shape
// an outer object aggregates. Both carry ISupportErrorInfo and IWebMng, in
// that order, behind one interface table.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "server/dispatch.h"
#include "server/interface_table.h"

// The two interfaces; each shape supplies IUnknown's operations.
class WebMngInterfaces : public ISupportErrorInfo, public WebMngDispatch {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;
};

// Rows over a WebMngInterfaces: IWebMng, IDispatch, ISupportErrorInfo.
extern const InterfaceTableEntry g_WebMngInterfaceTable[];

class WebMng final : public WebMngInterfaces {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

private:
    LONG m_lRefCount = 0;  // one apartment uses an instance: no interlocking
};

// The part inside an aggregate: its IUnknown belongs to the outer object.
class ContainedWebMng final : public WebMngInterfaces {
public:
    explicit ContainedWebMng(IUnknown* pOuterUnknown) : m_pOuter(pOuterUnknown) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

private:
    IUnknown* m_pOuter;  // not counted: the outer object holds us
};

class WebMngAggregate final : public IUnknown {
public:
    explicit WebMngAggregate(IUnknown* pOuter) : m_contained(pOuter) {}
    // The non-delegating unknown, held by the outer object only.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

private:
    LONG m_lRefCount = 0;
    ContainedWebMng m_contained;
};

// The class table's pfnCreateObject: standalone without an outer object,
// aggregated with one (riid is then IUnknown).
HRESULT CreateWebMng(IUnknown* pOuter, REFIID riid, void** ppv);

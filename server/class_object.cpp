#include "server/class_object.h"

#include "server/counted_object.h"
#include "server/interface_table.h"
#include "platform/module_object.h"
#include "platform/module_state.h"

namespace {
const InterfaceTableEntry kClassObjectInterfaces[] = {
    {&IID_IClassFactory, InterfaceOf<ClassObject, IClassFactory>},
    {nullptr, nullptr},
};
}  // namespace

ClassObject::ClassObject(PFNCREATEOBJECT pfnCreate) : m_pfnCreateObject(pfnCreate) {
    InitializeCriticalSection(&m_csRefCount);
}

ClassObject::~ClassObject() { DeleteCriticalSection(&m_csRefCount); }

STDMETHODIMP ClassObject::QueryInterface(REFIID riid, void** ppv) {
    return InterfaceTableLookup(this, kClassObjectInterfaces, riid, ppv);
}

// The class table's own reference does not lock the module: only a client's
// does, which is the move from 1 to 2.
STDMETHODIMP_(ULONG) ClassObject::AddRef() {
    EnterCriticalSection(&m_csRefCount);
    LONG lCount = InterlockedIncrement(&m_lRefCount);
    if (lCount == 2) LockModule();
    LeaveCriticalSection(&m_csRefCount);
    return static_cast<ULONG>(lCount);
}

STDMETHODIMP_(ULONG) ClassObject::Release() {
    EnterCriticalSection(&m_csRefCount);
    LONG lCount = InterlockedDecrement(&m_lRefCount);
    LeaveCriticalSection(&m_csRefCount);
    if (lCount == 0)
        ModuleDelete(this);
    else if (lCount == 1)
        UnlockModule();
    return static_cast<ULONG>(lCount);
}

STDMETHODIMP ClassObject::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating outer object must hold the non-delegating unknown.
    if (pOuter && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return m_pfnCreateObject(pOuter, riid, ppv);
}

STDMETHODIMP ClassObject::LockServer(BOOL bLock) {
    if (bLock)
        LockModule();
    else
        UnlockModule();
    return S_OK;
}

// The class table takes the reference HandOver gives: the move from 1 to 2
// and back on the way locks and unlocks the module once.
HRESULT CreateClassObject(PFNCREATEOBJECT pfnCreateObject, REFIID riid, void** ppv) {
    ClassObject* pClassObject = ModuleNew<ClassObject>(pfnCreateObject);
    if (!pClassObject) return E_OUTOFMEMORY;
    return HandOver(pClassObject, riid, ppv);
}

#include "server/class_object.h"

#include "server/interface_table.h"
#include "platform/module_object.h"
#include "platform/module_state.h"

namespace {
const InterfaceTableEntry kClassObjectInterfaces[] = {
    {&IID_IClassFactory, InterfaceOf<ClassObject, IClassFactory>},
    {nullptr, nullptr},
};
}  // namespace

ClassObject::ClassObject(PFNCREATEOBJECT pfnCreate) : lRefCount(0), pfnCreateObject(pfnCreate) {
    InitializeCriticalSection(&csCache);
}

ClassObject::~ClassObject() { DeleteCriticalSection(&csCache); }

STDMETHODIMP ClassObject::QueryInterface(REFIID riid, void** ppv) {
    return InterfaceTableLookup(this, kClassObjectInterfaces, riid, ppv);
}

// The class table's own reference does not lock the module: only a client's
// does, which is the move from 1 to 2.
STDMETHODIMP_(ULONG) ClassObject::AddRef() {
    EnterCriticalSection(&csCache);
    LONG lCount = InterlockedIncrement(&lRefCount);
    if (lCount == 2) LockModule();
    LeaveCriticalSection(&csCache);
    return static_cast<ULONG>(lCount);
}

STDMETHODIMP_(ULONG) ClassObject::Release() {
    EnterCriticalSection(&csCache);
    LONG lCount = InterlockedDecrement(&lRefCount);
    LeaveCriticalSection(&csCache);
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
    return pfnCreateObject(pOuter, riid, ppv);
}

STDMETHODIMP ClassObject::LockServer(BOOL fLock) {
    if (fLock)
        LockModule();
    else
        UnlockModule();
    return S_OK;
}

HRESULT CreateClassObject(PFNCREATEOBJECT pfnCreateObject, REFIID riid, void** ppv) {
    ClassObject* pClassObject = ModuleNew<ClassObject>(pfnCreateObject);
    if (!pClassObject) return E_OUTOFMEMORY;
    HRESULT hr = pClassObject->QueryInterface(riid, ppv);
    if (hr != S_OK) {
        ModuleDelete(pClassObject);
        return hr;
    }
    return S_OK;
}

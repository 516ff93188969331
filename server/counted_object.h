// A standalone object of the module: its interfaces (a class carrying
// ISupportErrorInfo and a dual interface), its own reference count, and a
// module lock held for as long as it lives.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <utility>

#include "platform/module_object.h"
#include "platform/module_state.h"
#include "server/interface_table.h"

// Hands a new object to its caller: it counts toward the module lock from its
// creation, and one the caller cannot take is given back at once.
template <class Object>
HRESULT DeliverObject(Object* pObject, REFIID riid, void** ppv) {
    LockModule();
    HRESULT hr = pObject->QueryInterface(riid, ppv);
    if (hr != S_OK) {
        ModuleDelete(pObject);
        UnlockModule();
    }
    return hr;
}

template <class Interfaces, const InterfaceTableEntry* Table, const IID* ErrorInfoIid>
class CountedObject final : public Interfaces {
public:
    template <class... Args>
    explicit CountedObject(Args&&... args) : Interfaces(std::forward<Args>(args)...) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return InterfaceTableLookup(static_cast<Interfaces*>(this), Table, riid, ppv);
    }
    // One apartment uses an instance: no interlocking.
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_lRefCount); }
    // The memory goes back before the module lock does: once the count is 0
    // the host may unload the module.
    STDMETHODIMP_(ULONG) Release() override {
        const LONG lCount = --m_lRefCount;
        if (lCount == 0) {
            ModuleDelete(this);
            UnlockModule();
        }
        return static_cast<ULONG>(lCount);
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, *ErrorInfoIid) ? S_OK : S_FALSE;
    }

    // A new object asked for riid.
    template <class... Args>
    static HRESULT Create(REFIID riid, void** ppv, Args&&... args) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        CountedObject* pObject = ModuleNew<CountedObject>(std::forward<Args>(args)...);
        if (!pObject) return E_OUTOFMEMORY;
        return DeliverObject(pObject, riid, ppv);
    }

private:
    LONG m_lRefCount = 0;
};

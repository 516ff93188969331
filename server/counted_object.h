// Every object of the module that a client holds by its own count: a Shape
// (its interfaces and state, with a FindInterface behind QueryInterface)
// made whole with a reference count, a module lock for as long as it lives,
// and its creation.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <utility>

#include "platform/module_object.h"
#include "platform/module_state.h"

// Hands a new object, made holding one reference of its own, to its caller
// as riid, and drops that reference: one the caller cannot take goes away
// through its last Release, like any other.
template <class Object>
HRESULT HandOver(Object* pObject, REFIID riid, void** ppv) {
    const HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
}

template <class Shape>
class CountedObject final : public Shape {
public:
    // The module stays locked from here until the last Release.
    template <class... Args>
    explicit CountedObject(Args&&... args) : Shape(std::forward<Args>(args)...) {
        LockModule();
    }
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Shape::FindInterface(riid, ppv); }
    // One apartment uses an instance: no interlocking.
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_lRefCount); }
    // The memory goes back before the module lock does: once the lock is
    // gone the host may unload the module.
    STDMETHODIMP_(ULONG) Release() override {
        const LONG lCount = --m_lRefCount;
        if (lCount == 0) {
            ModuleDelete(this);
            UnlockModule();
        }
        return static_cast<ULONG>(lCount);
    }

    // A new object asked for riid.
    template <class... Args>
    static HRESULT Create(REFIID riid, void** ppv, Args&&... args) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        CountedObject* pObject = ModuleNew<CountedObject>(std::forward<Args>(args)...);
        if (!pObject) return E_OUTOFMEMORY;
        return HandOver(pObject, riid, ppv);
    }

private:
    LONG m_lRefCount = 1;  // the creator's, until HandOver
};

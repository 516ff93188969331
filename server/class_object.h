// The class object: one class factory per served class, made on the first
// request and cached in the class table.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include "platform/class_table.h"

class ClassObject final : public IClassFactory {
public:
    explicit ClassObject(PFNCREATEOBJECT pfnCreateObject);
    ~ClassObject();
    ClassObject(const ClassObject&) = delete;
    ClassObject& operator=(const ClassObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL bLock) override;

private:
    LONG m_lRefCount = 1;  // the creator's, until HandOver
    PFNCREATEOBJECT m_pfnCreateObject;
    // Held while the count moves, so that the module lock taken on the move
    // from 1 to 2 and dropped on the move back cannot interleave.
    CRITICAL_SECTION m_csRefCount;
};

// The class table's pfnCreateClassObject: a new class object that creates
// objects with pfnCreateObject, asked for riid.
HRESULT CreateClassObject(PFNCREATEOBJECT pfnCreateObject, REFIID riid, void** ppv);

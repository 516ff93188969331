// QueryInterface driven by a static, ordered table of (interface identifier,
// interface of the object) rows, ended by a row with a null identifier.
#pragma once
#include <windows.h>
#include <unknwn.h>

struct InterfaceTableEntry {
    const IID* pInterfaceId;
    IUnknown* (*pfnInterface)(void* pObject);
};

// The row function for Interface of an Object.
template <class Object, class Interface>
IUnknown* InterfaceOf(void* pObject) {
    return static_cast<Interface*>(static_cast<Object*>(pObject));
}

// IUnknown is answered by the first row whatever interface the caller holds,
// which gives the object a single identity.
HRESULT InterfaceTableLookup(void* pObject, const InterfaceTableEntry* pTable, REFIID riid, void** ppv);

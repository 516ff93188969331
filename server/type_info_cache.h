// The type information of a dual interface, read from the registered type
// library once per process and shared by every object that carries the
// interface, with a table of member names that answers exact-case name
// lookups without calling into it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "resources/varo_interfaces.h"

// One member of the interface: its name, and what a late-bound call of it
// passes (read once, with the name, so that no call has to ask again).
struct NameEntry {
    BSTR bstrName;  // null when it could not be read: never matches
    UINT nLength;
    DISPID dispid;
    WORD wInvokeKind;     // INVOKE_FUNC, INVOKE_PROPERTYGET, ...
    UINT cArguments;      // parameters a caller passes (a retval is none)
    DWORD dwOutVariants;  // bit i: parameter i is an [out] VARIANT the member writes over
};

struct TypeInfoCache {
    const IID* pInterfaceId;
    const GUID* pLibraryId;
    WORD wMajorVersion;
    WORD wMinorVersion;
    ITypeInfo* pTypeInfo;  // set last, once the name table is complete
    NameEntry* pNameTable;
    LONG nNameCount;
    // Set once its clean-up is registered: registering on every call that
    // finds nothing loaded would add a list entry per call for as long as the
    // type library stays unregistered.
    LONG lCleanupRegistered;
};

// The cache of the interface *InterfaceId, one per interface the module
// dispatches through.
template <const IID* InterfaceId>
inline TypeInfoCache g_InterfaceTypeInfo = {InterfaceId, &LIBID_VAROLib, 1, 0, nullptr, nullptr, 0, 0};

// S_OK once the type information is loaded; otherwise the platform's status,
// and nothing is kept, so the next call tries again.
HRESULT LoadTypeInfo(TypeInfoCache& cache, LCID lcid);

// The loaded type information, or null; together with the name table it is
// read-only from the moment it is visible.
ITypeInfo* LoadedTypeInfo(const TypeInfoCache& cache);

void BuildNameTable(TypeInfoCache& cache, ITypeInfo* pTypeInfo);

// The clean-up callback run at detach; dwArgument is the TypeInfoCache.
void CleanupTypeInfo(DWORD_PTR dwArgument);

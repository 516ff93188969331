#include "server/type_info_cache.h"

#include "platform/com_ptr.h"
#include "platform/hresult_checks.h"
#include "platform/module_object.h"
#include "platform/module_state.h"

namespace {
void RegisterCleanup(TypeInfoCache& cache) {
    if (InterlockedCompareExchange(&cache.lCleanupRegistered, 1, 0) != 0) return;
    if (FAILED(AddCleanup(CleanupTypeInfo, reinterpret_cast<DWORD_PTR>(&cache))))
        InterlockedExchange(&cache.lCleanupRegistered, 0);  // a later call tries again
}

// Called under csTypeInfo with nothing loaded.
HRESULT LoadLocked(TypeInfoCache& cache, LCID lcid) {
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadRegTypeLib(*cache.pLibraryId, cache.wMajorVersion, cache.wMinorVersion, lcid, library.put()));
    ComPtr<ITypeInfo> typeInfo;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(*cache.pInterfaceId, typeInfo.put()));
    ComPtr<ITypeInfo> chosen;
    if (FAILED(typeInfo->QueryInterface(IID_ITypeInfo2, chosen.put_void()))) chosen.attach(typeInfo.detach());
    BuildNameTable(cache, chosen.get());
    PublishPointer(&cache.pTypeInfo, chosen.detach());
    return S_OK;
}

// Whether the parameter is an [out] VARIANT (not [in, out], not the retval).
bool IsOutVariant(const ELEMDESC& param) {
    const USHORT wFlags = param.paramdesc.wParamFlags;
    return (wFlags & PARAMFLAG_FOUT) && !(wFlags & (PARAMFLAG_FIN | PARAMFLAG_FRETVAL)) &&
           param.tdesc.vt == VT_PTR && param.tdesc.lptdesc && param.tdesc.lptdesc->vt == VT_VARIANT;
}

void ReadCallFacts(const FUNCDESC& func, NameEntry& entry) {
    entry.dispid = func.memid;
    entry.wInvokeKind = static_cast<WORD>(func.invkind);
    for (SHORT i = 0; i < func.cParams; ++i) {
        const ELEMDESC& param = func.lprgelemdescParam[i];
        if (!(param.paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++entry.cArguments;
        if (i < 32 && IsOutVariant(param)) entry.dwOutVariants |= 1u << i;
    }
}
}  // namespace

HRESULT LoadTypeInfo(TypeInfoCache& cache, LCID lcid) {
    if (LoadedTypeInfo(cache)) return S_OK;
    HRESULT hr = S_OK;
    EnterCriticalSection(&g_ModuleState.csTypeInfo);
    if (!cache.pTypeInfo) hr = LoadLocked(cache, lcid);
    LeaveCriticalSection(&g_ModuleState.csTypeInfo);
    // AddCleanup takes csTypeInfo itself.
    RegisterCleanup(cache);
    return hr;
}

ITypeInfo* LoadedTypeInfo(const TypeInfoCache& cache) { return ReadPublished(&cache.pTypeInfo); }

void BuildNameTable(TypeInfoCache& cache, ITypeInfo* pTypeInfo) {
    TypeAttrBlock attr(pTypeInfo);
    if (FAILED(pTypeInfo->GetTypeAttr(attr.put())) || !attr) return;
    UINT nFuncs = attr.get()->cFuncs;
    if (nFuncs == 0) return;
    NameEntry* pTable = static_cast<NameEntry*>(ModuleAlloc(nFuncs * sizeof(NameEntry)));
    if (!pTable) return;  // lookups then all go to the type information
    for (UINT i = 0; i < nFuncs; ++i) pTable[i] = NameEntry{nullptr, 0, DISPID_UNKNOWN, 0, 0, 0};
    cache.pNameTable = pTable;
    cache.nNameCount = static_cast<LONG>(nFuncs);
    for (UINT i = 0; i < nFuncs; ++i) {
        FuncDescBlock func(pTypeInfo);
        if (FAILED(pTypeInfo->GetFuncDesc(i, func.put())) || !func) continue;
        ReadCallFacts(*func.get(), pTable[i]);
        BSTR bstrName = nullptr;
        if (FAILED(pTypeInfo->GetDocumentation(func.get()->memid, &bstrName, nullptr, nullptr, nullptr))) continue;
        pTable[i].bstrName = bstrName;
        pTable[i].nLength = SysStringLen(bstrName);
        pTable[i].dispid = func.get()->memid;
    }
}

void CleanupTypeInfo(DWORD_PTR dwArgument) {
    TypeInfoCache& cache = *reinterpret_cast<TypeInfoCache*>(dwArgument);
    if (cache.pTypeInfo) {
        ITypeInfo* pTypeInfo = cache.pTypeInfo;
        cache.pTypeInfo = nullptr;
        pTypeInfo->Release();
    }
    if (cache.pNameTable) {
        for (LONG i = cache.nNameCount - 1; i >= 0; --i) SysFreeString(cache.pNameTable[i].bstrName);
        ModuleFree(cache.pNameTable);
        cache.pNameTable = nullptr;
    }
    cache.nNameCount = 0;
    cache.lCleanupRegistered = 0;
}

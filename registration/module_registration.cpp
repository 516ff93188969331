// Registration of the module (behind DllRegisterServer and DllUnregisterServer):
// every class of the class table,
// then the type library.
#include <comcat.h>

#include "platform/com_ptr.h"
#include "registration/server_registration.h"

namespace {
// A class that describes itself is registered by other means.
bool IsSelected(const ClassTableEntry& entry) { return !(entry.pfnDescription && entry.pfnDescription()); }

const ClassCategory* CategoriesOf(const ClassTableEntry& entry) {
    return entry.pfnCategories ? entry.pfnCategories() : nullptr;
}
}  // namespace

HRESULT RegisterModule(const ModuleState& module) {
    for (const ClassTableEntry* pEntry = module.pClassTable; pEntry && pEntry->pClassId; ++pEntry) {
        if (!IsSelected(*pEntry)) continue;
        HRESULT hr = pEntry->pfnRegister ? pEntry->pfnRegister(TRUE) : S_OK;
        if (FAILED(hr)) return hr;
        hr = RegisterClassCategories(*pEntry->pClassId, CategoriesOf(*pEntry), TRUE);
        if (FAILED(hr)) return hr;
    }
    return RegisterModuleTypeLib(module);
}

HRESULT UnregisterModule(const ModuleState& module) {
    for (const ClassTableEntry* pEntry = module.pClassTable; pEntry && pEntry->pClassId; ++pEntry) {
        if (!IsSelected(*pEntry)) continue;
        if (pEntry->pfnRegister) pEntry->pfnRegister(FALSE);
        if (pEntry->pfnCategories) RegisterClassCategories(*pEntry->pClassId, CategoriesOf(*pEntry), FALSE);
    }
    UnregisterModuleTypeLib(module);
    return S_OK;
}

// Component categories a class names through its row: WebMng names none, so
// this never runs here; the driver keeps it for rows that do.
HRESULT RegisterClassCategories(const CLSID& clsid, const ClassCategory* pCategories, BOOL bRegister) {
    if (!pCategories) return S_OK;
    ComPtr<ICatRegister> manager;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                manager.put_void())))
        return S_OK;
    for (const ClassCategory* p = pCategories; p->dwKind != 0; ++p) {
        CATID catid = *p->pCategoryId;
        CLSID clsidCopy = clsid;
        bool bImplemented = p->dwKind == 1;
        if (bRegister) {
            HRESULT hr = bImplemented ? manager->RegisterClassImplCategories(clsidCopy, 1, &catid)
                                      : manager->RegisterClassReqCategories(clsidCopy, 1, &catid);
            if (FAILED(hr)) return hr;
        } else if (bImplemented) {
            manager->UnRegisterClassImplCategories(clsidCopy, 1, &catid);
        } else {
            manager->UnRegisterClassReqCategories(clsidCopy, 1, &catid);
        }
    }
    return S_OK;
}

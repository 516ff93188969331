// Registration of the module (behind DllRegisterServer and DllUnregisterServer):
// every class of the class table,
// then the type library.
#include <comcat.h>

#include "platform/com_ptr.h"
#include "platform/hresult_checks.h"
#include "registration/registry_win32.h"
#include "registration/server_registration.h"

namespace {
// A class that describes itself is registered by other means.
bool IsSelected(const ClassTableEntry& entry) { return !(entry.pfnDescription && entry.pfnDescription()); }

const ClassCategory* CategoriesOf(const ClassTableEntry& entry) {
    return entry.pfnCategories ? entry.pfnCategories() : nullptr;
}

// The flag that opens the other registry view, or 0 when there is none: a
// 32-bit process has one only under WOW64 (on 32-bit Windows the flag would be
// ignored and open its own view).
REGSAM OtherViewFlag() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    typedef BOOL(WINAPI * PFNISWOW64PROCESS)(HANDLE, PBOOL);
    auto pfnIsWow64Process = reinterpret_cast<PFNISWOW64PROCESS>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL bWow64 = FALSE;
    if (!pfnIsWow64Process || !pfnIsWow64Process(GetCurrentProcess(), &bWow64) || !bWow64) return 0;
    return KEY_WOW64_64KEY;
#endif
}
}  // namespace

bool GuidText(REFGUID guid, char (&szGuid)[kGuidTextSize]) {
    wchar_t szWide[kGuidTextSize];
    if (StringFromGUID2(guid, szWide, kGuidTextSize) != kGuidTextSize) return false;
    for (int i = 0; i < kGuidTextSize; ++i) szGuid[i] = static_cast<char>(szWide[i]);  // braces, hex digits, hyphens
    return true;
}

bool OtherViewHasClass(const CLSID& clsid) {
    const REGSAM samView = OtherViewFlag();
    char szClsid[kGuidTextSize];
    if (!samView || !GuidText(clsid, szClsid)) return false;
    char szKey[6 + kGuidTextSize] = "CLSID\\";
    lstrcpyA(szKey + 6, szClsid);
    Win32Registry registry;
    RegistryKey key(registry);
    return registry.OpenKey(HKEY_CLASSES_ROOT, szKey, KEY_READ | samView, key.put()) == ERROR_SUCCESS;
}

HRESULT RegisterModule(const ModuleState& module) {
    for (const ClassTableEntry* pEntry = module.pClassTable; pEntry && pEntry->pClassId; ++pEntry) {
        if (!IsSelected(*pEntry)) continue;
        if (pEntry->pfnRegister) RETURN_IF_FAILED(pEntry->pfnRegister(RegistrationAction::kRegister));
        RETURN_IF_FAILED(RegisterClassCategories(*pEntry->pClassId, CategoriesOf(*pEntry), TRUE));
    }
    return RegisterModuleTypeLib(module);
}

// The keys both registry views share (ProgIDs, the type library's key) stay
// while the other bitness's DLL still has its class key, and go with the last
// of the two.
HRESULT UnregisterModule(const ModuleState& module) {
    bool bOtherViewRegistered = false;
    for (const ClassTableEntry* pEntry = module.pClassTable; pEntry && pEntry->pClassId; ++pEntry) {
        if (!IsSelected(*pEntry)) continue;
        const bool bKeepShared = OtherViewHasClass(*pEntry->pClassId);
        bOtherViewRegistered = bOtherViewRegistered || bKeepShared;
        if (pEntry->pfnRegister)
            pEntry->pfnRegister(bKeepShared ? RegistrationAction::kUnregisterClassKey : RegistrationAction::kUnregister);
        if (pEntry->pfnCategories) RegisterClassCategories(*pEntry->pClassId, CategoriesOf(*pEntry), FALSE);
    }
    UnregisterModuleTypeLib(module, bOtherViewRegistered);
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
            RETURN_IF_FAILED(bImplemented ? manager->RegisterClassImplCategories(clsidCopy, 1, &catid)
                                          : manager->RegisterClassReqCategories(clsidCopy, 1, &catid));
        } else if (bImplemented) {
            manager->UnRegisterClassImplCategories(clsidCopy, 1, &catid);
        } else {
            manager->UnRegisterClassReqCategories(clsidCopy, 1, &catid);
        }
    }
    return S_OK;
}

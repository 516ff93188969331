#include "server/class_table.h"

#include "component/webmng_interface.h"
#include "registration/server_registration.h"
#include "server/class_object.h"
#include "server/module_object.h"
#include "server/module_state.h"
#include "server/webmng_object.h"

namespace {
const wchar_t* NoDescription() { return nullptr; }
const ClassCategory* NoCategories() { return nullptr; }
void NoClassInit(BOOL /*bAttach*/) {}
}  // namespace

// The classes this module serves; the terminator row ends the walk.
ClassTableEntry g_ClassTable[] = {
    {&CLSID_WebMng, RegisterWebMngScript, CreateClassObject, CreateWebMng, nullptr, NoDescription, NoCategories, NoClassInit},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The class object is made once, under csClassTable, and the table keeps a
// reference to it until detach.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    HRESULT hr = S_OK;
    for (ClassTableEntry* pEntry = g_ModuleState.pClassTable; pEntry && pEntry->pClassId; ++pEntry) {
        if (!pEntry->pfnCreateClassObject || !IsEqualCLSID(*pEntry->pClassId, rclsid)) continue;
        if (!ReadPublished(&pEntry->pClassObject)) {
            EnterCriticalSection(&g_ModuleState.csClassTable);
            if (!pEntry->pClassObject) {
                IUnknown* pClassObject = nullptr;
                hr = pEntry->pfnCreateClassObject(pEntry->pfnCreateObject, IID_IUnknown,
                                                  reinterpret_cast<void**>(&pClassObject));
                if (SUCCEEDED(hr)) PublishPointer(&pEntry->pClassObject, pClassObject);
            }
            LeaveCriticalSection(&g_ModuleState.csClassTable);
        }
        IUnknown* pClassObject = ReadPublished(&pEntry->pClassObject);
        if (pClassObject) hr = pClassObject->QueryInterface(riid, ppv);
        break;
    }
    if (!*ppv && hr == S_OK) return CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

// The class object of a class of the table (behind DllGetClassObject), made
// on first request.
#include "server/class_lookup.h"

#include "platform/class_table.h"
#include "platform/module_object.h"
#include "platform/module_state.h"

// The class object is made once, under csClassTable, and the table keeps a
// reference to it until detach.
HRESULT GetTableClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
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

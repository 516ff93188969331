// The library's entry point (module state at process attach and detach) and
// its exports, each handed to the layer that does the work.
#include <windows.h>

#include "platform/class_table.h"
#include "platform/module_state.h"
#include "registration/server_registration.h"
#include "server/class_lookup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pvReserved*/) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        // Without its base heap the module cannot serve anything: fail the load.
        if (FAILED(InitModule(g_ClassTable, hInstance))) return FALSE;
        DisableThreadLibraryCalls(hInstance);
    } else if (dwReason == DLL_PROCESS_DETACH) {
        TermModule();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) { return GetTableClassObject(rclsid, riid, ppv); }

STDAPI DllRegisterServer() { return RegisterModule(g_ModuleState); }

// Unregistration never fails: what could not be removed is not the caller's
// to handle.
STDAPI DllUnregisterServer() {
    UnregisterModule(g_ModuleState);
    return S_OK;
}

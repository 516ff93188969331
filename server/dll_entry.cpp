// The library's entry point: module state at process attach and detach.
#include <windows.h>

#include "server/module_state.h"

extern ClassTableEntry g_ClassTable[];

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

// The class object of a class the module serves.
#pragma once
#include <windows.h>

// DllGetClassObject's work: the row of g_ModuleState's class table for
// rclsid, its class object made once under csClassTable and kept by the
// table until detach, asked for riid.
HRESULT GetTableClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

// WebMng as the object model sees it: standalone, or aggregated by an outer
// object.
#pragma once
#include <windows.h>
#include <unknwn.h>

// The class table's pfnCreateObject: standalone without an outer object,
// aggregated with one (riid is then IUnknown).
HRESULT CreateWebMng(IUnknown* pOuter, REFIID riid, void** ppv);

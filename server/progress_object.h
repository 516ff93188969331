// VARO.Progress as the object model sees it, and the report objects its
// Read hands out. Progress is not aggregatable.
#pragma once
#include <windows.h>
#include <unknwn.h>

// The class table's pfnCreateObject for Progress.
HRESULT CreateProgress(IUnknown* pOuter, REFIID riid, void** ppv);

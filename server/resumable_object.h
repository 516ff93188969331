// VARO.Resumable as the object model sees it. Resumable is not aggregatable.
#pragma once
#include <windows.h>
#include <unknwn.h>

// The class table's pfnCreateObject for Resumable.
HRESULT CreateResumable(IUnknown* pOuter, REFIID riid, void** ppv);

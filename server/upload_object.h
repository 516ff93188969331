// VARO.Upload as the object model sees it, and the UploadedFile objects it
// hands out. Upload is not aggregatable.
#pragma once
#include <windows.h>
#include <unknwn.h>

// The class table's pfnCreateObject for Upload.
HRESULT CreateUpload(IUnknown* pOuter, REFIID riid, void** ppv);

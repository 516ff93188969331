// VARO.Upload as the object model sees it, and the UploadedFile objects it
// hands out. Upload is not aggregatable.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <cstdint>

class UploadedFileSource;

// The class table's pfnCreateObject for Upload.
HRESULT CreateUpload(IUnknown* pOuter, REFIID riid, void** ppv);

// An UploadedFile object for item iItem of the source, read in uCodePage:
// the PFNCREATEFILEOBJECT of every class that hands files out.
HRESULT CreateUploadedFileObject(UploadedFileSource* pSource, std::uint32_t iItem, UINT uCodePage,
                                 IDispatch** ppFile);

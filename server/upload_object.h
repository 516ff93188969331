// VARO.Upload and the UploadedFile objects it hands out, as the object
// model sees them. Upload is not aggregatable.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "server/dispatch.h"
#include "upload/uploaded_file_methods.h"

class UploadInterfaces : public ISupportErrorInfo, public DispatchThrough<UploadMethods, IUpload, g_UploadTypeInfo> {
public:
    UploadInterfaces();
};

class UploadedFileInterfaces : public ISupportErrorInfo,
                               public DispatchThrough<UploadedFileMethods, IUploadedFile, g_UploadedFileTypeInfo> {
public:
    UploadedFileInterfaces(LoadedForm* pForm, std::uint32_t iPart, UINT uCodePage)
        : DispatchThrough(pForm, iPart, uCodePage) {}
};

// The class table's pfnCreateObject for Upload.
HRESULT CreateUpload(IUnknown* pOuter, REFIID riid, void** ppv);

#include "server/upload_object.h"

#include "resources/varo_interfaces.h"
#include "server/counted_object.h"
#include "server/dual_interfaces.h"
#include "upload/upload_methods.h"
#include "uploadedfile/uploaded_file_methods.h"

namespace {
using UploadObject = CountedObject<DualInterfaces<UploadMethods, IUpload, &IID_IUpload>>;
using UploadedFileObject = CountedObject<DualInterfaces<UploadedFileMethods, IUploadedFile, &IID_IUploadedFile>>;

}  // namespace

HRESULT CreateUploadedFileObject(UploadedFileSource* pSource, std::uint32_t iItem, UINT uCodePage,
                                 IDispatch** ppFile) {
    return UploadedFileObject::Create(IID_IDispatch, reinterpret_cast<void**>(ppFile), pSource, iItem, uCodePage);
}

HRESULT CreateUpload(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (pOuter) {
        if (ppv) *ppv = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    return UploadObject::Create(riid, ppv, CreateUploadedFileObject);
}

#include "server/upload_object.h"

#include "server/counted_object.h"

namespace {
const InterfaceTableEntry kUploadInterfaces[] = {
    {&IID_IUpload, InterfaceOf<UploadInterfaces, IUpload>},
    {&IID_IDispatch, InterfaceOf<UploadInterfaces, IUpload>},
    {&IID_ISupportErrorInfo, InterfaceOf<UploadInterfaces, ISupportErrorInfo>},
    {nullptr, nullptr},
};

const InterfaceTableEntry kUploadedFileInterfaces[] = {
    {&IID_IUploadedFile, InterfaceOf<UploadedFileInterfaces, IUploadedFile>},
    {&IID_IDispatch, InterfaceOf<UploadedFileInterfaces, IUploadedFile>},
    {&IID_ISupportErrorInfo, InterfaceOf<UploadedFileInterfaces, ISupportErrorInfo>},
    {nullptr, nullptr},
};

using UploadObject = CountedObject<UploadInterfaces, kUploadInterfaces, &IID_IUpload>;
using UploadedFileObject = CountedObject<UploadedFileInterfaces, kUploadedFileInterfaces, &IID_IUploadedFile>;

HRESULT CreateUploadedFile(LoadedForm* pForm, std::uint32_t iPart, UINT uCodePage, IDispatch** ppFile) {
    return UploadedFileObject::Create(IID_IDispatch, reinterpret_cast<void**>(ppFile), pForm, iPart, uCodePage);
}
}  // namespace

UploadInterfaces::UploadInterfaces() : DispatchThrough(CreateUploadedFile) {}

HRESULT CreateUpload(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (pOuter) {
        if (ppv) *ppv = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    return UploadObject::Create(riid, ppv);
}

#include "server/resumable_object.h"

#include "server/counted_object.h"
#include "server/dual_interfaces.h"
#include "server/upload_object.h"
#include "tus/resumable_methods.h"

namespace {
using ResumableObject = CountedObject<DualInterfaces<ResumableMethods, IResumable, &IID_IResumable>>;
}  // namespace

HRESULT CreateResumable(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (pOuter) {
        if (ppv) *ppv = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    return ResumableObject::Create(riid, ppv, CreateUploadedFileObject);
}

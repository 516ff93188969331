#include "server/progress_object.h"

#include "progress/progress_methods.h"
#include "server/counted_object.h"
#include "server/dual_interfaces.h"

namespace {
using ProgressObject = CountedObject<DualInterfaces<ProgressMethods, IProgress, &IID_IProgress>>;
using ProgressReportObject =
    CountedObject<DualInterfaces<ProgressReportMethods, IProgressReport, &IID_IProgressReport>>;

HRESULT CreateProgressReport(const ProgressReport& report, IDispatch** ppReport) {
    return ProgressReportObject::Create(IID_IDispatch, reinterpret_cast<void**>(ppReport), report);
}
}  // namespace

HRESULT CreateProgress(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (pOuter) {
        if (ppv) *ppv = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    return ProgressObject::Create(riid, ppv, CreateProgressReport);
}

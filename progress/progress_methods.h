// VARO.Progress's methods and the report objects its Read hands out: one
// snapshot of an upload's record with its figures, fixed when read, so a
// page's several property reads agree with each other.
#pragma once
#include "progress/progress_interface.h"
#include "progress/progress_reader.h"

// Makes the report object for one snapshot; supplied by the layer that gives
// objects their identity.
typedef HRESULT (*PFNCREATEREPORTOBJECT)(const ProgressReport& report, IDispatch** ppReport);

class ProgressMethods : public IProgress {
public:
    explicit ProgressMethods(PFNCREATEREPORTOBJECT pfnCreateReport) : m_pfnCreateReport(pfnCreateReport) {}
    virtual ~ProgressMethods() = default;
    ProgressMethods(const ProgressMethods&) = delete;
    ProgressMethods& operator=(const ProgressMethods&) = delete;

    // An id that is not valid, or names no upload, reads as state "unknown".
    STDMETHODIMP Read(BSTR bstrId, IDispatch** ppReport) override;

private:
    PFNCREATEREPORTOBJECT m_pfnCreateReport;
};

class ProgressReportMethods : public IProgressReport {
public:
    explicit ProgressReportMethods(const ProgressReport& report) : m_report(report) {}
    virtual ~ProgressReportMethods() = default;
    ProgressReportMethods(const ProgressReportMethods&) = delete;
    ProgressReportMethods& operator=(const ProgressReportMethods&) = delete;

    STDMETHODIMP get_BytesRead(double* pdblBytes) override;
    STDMETHODIMP get_TotalBytes(double* pdblBytes) override;
    STDMETHODIMP get_Percent(double* pdblPercent) override;
    STDMETHODIMP get_FilesDone(LONG* plFiles) override;
    STDMETHODIMP get_CurrentField(BSTR* pbstrField) override;
    STDMETHODIMP get_CurrentFile(BSTR* pbstrFile) override;
    STDMETHODIMP get_ElapsedSeconds(double* pdblSeconds) override;
    STDMETHODIMP get_BytesPerSecond(double* pdblRate) override;
    // -1 while it cannot be told, 0 once ended.
    STDMETHODIMP get_RemainingSeconds(double* pdblSeconds) override;
    STDMETHODIMP get_State(BSTR* pbstrState) override;
    STDMETHODIMP get_Message(BSTR* pbstrMessage) override;

private:
    ProgressReport m_report;
};

#include "progress/progress_methods.h"

namespace {

HRESULT PutDouble(double dbl, double* pdbl) {
    if (!pdbl) return E_POINTER;
    *pdbl = dbl;
    return S_OK;
}

HRESULT PutText(const char16_t* pch, std::size_t cch, BSTR* pbstr) {
    if (!pbstr) return E_POINTER;
    *pbstr = SysAllocStringLen(reinterpret_cast<const wchar_t*>(pch), static_cast<UINT>(cch));
    return *pbstr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

STDMETHODIMP ProgressMethods::Read(BSTR bstrId, IDispatch** ppReport) {
    if (!ppReport) return E_POINTER;
    *ppReport = nullptr;
    ProgressReport report;
    const wchar_t* pszId = bstrId ? bstrId : L"";
    ReadProgress(pszId, bstrId ? SysStringLen(bstrId) : 0, &report);
    return m_pfnCreateReport(report, ppReport);
}

STDMETHODIMP ProgressReportMethods::get_BytesRead(double* pdbl) {
    return PutDouble(static_cast<double>(m_report.record.cbRead), pdbl);
}
STDMETHODIMP ProgressReportMethods::get_TotalBytes(double* pdbl) {
    return PutDouble(static_cast<double>(m_report.record.cbTotal), pdbl);
}
STDMETHODIMP ProgressReportMethods::get_Percent(double* pdbl) { return PutDouble(m_report.figures.dblPercent, pdbl); }
STDMETHODIMP ProgressReportMethods::get_FilesDone(LONG* plFiles) {
    if (!plFiles) return E_POINTER;
    *plFiles = static_cast<LONG>(m_report.record.nFilesDone);
    return S_OK;
}
STDMETHODIMP ProgressReportMethods::get_CurrentField(BSTR* pbstr) {
    return PutText(m_report.record.szField, m_report.record.cchField, pbstr);
}
STDMETHODIMP ProgressReportMethods::get_CurrentFile(BSTR* pbstr) {
    return PutText(m_report.record.szFile, m_report.record.cchFile, pbstr);
}
STDMETHODIMP ProgressReportMethods::get_ElapsedSeconds(double* pdbl) {
    return PutDouble(m_report.figures.dblElapsedSeconds, pdbl);
}
STDMETHODIMP ProgressReportMethods::get_BytesPerSecond(double* pdbl) {
    return PutDouble(m_report.figures.dblBytesPerSecond, pdbl);
}
STDMETHODIMP ProgressReportMethods::get_RemainingSeconds(double* pdbl) {
    return PutDouble(m_report.figures.dblRemainingSeconds, pdbl);
}
STDMETHODIMP ProgressReportMethods::get_State(BSTR* pbstr) {
    if (!pbstr) return E_POINTER;
    *pbstr = SysAllocString(reinterpret_cast<const wchar_t*>(
        ProgressStateName(static_cast<ProgressState>(m_report.record.nState))));
    return *pbstr ? S_OK : E_OUTOFMEMORY;
}
STDMETHODIMP ProgressReportMethods::get_Message(BSTR* pbstr) {
    return PutText(m_report.record.szMessage, m_report.record.cchMessage, pbstr);
}

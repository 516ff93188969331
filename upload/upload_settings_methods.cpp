// What the page sets before a form loads (load_settings.h checks each value):
// the limits, the temporary folder, what is learnt of each file while it
// loads, and the id its progress is kept under.
#include "platform/bstr_text.h"
#include "upload/upload_errors.h"
#include "upload/upload_methods.h"

namespace {
HRESULT GetLimit(const LoadSettings& settings, LoadSettings::Limit limit, double* pdblLimit) {
    if (!pdblLimit) return E_POINTER;
    *pdblLimit = settings.LimitValue(limit);
    return S_OK;
}

// A text setting as a new string: an empty one for none.
HRESULT GetText(BSTR bstrText, BSTR* pbstrText) {
    if (!pbstrText) return E_POINTER;
    *pbstrText = CopyBstr(bstrText);
    return *pbstrText ? S_OK : kUploadErrors.NoMemory();
}
}  // namespace

STDMETHODIMP UploadMethods::get_MaxParts(LONG* plMaxParts) {
    if (!plMaxParts) return E_POINTER;
    *plMaxParts = m_settings.MaxParts();
    return S_OK;
}

STDMETHODIMP UploadMethods::put_MaxParts(LONG lMaxParts) { return m_settings.SetMaxParts(lMaxParts); }

STDMETHODIMP UploadMethods::get_MaxBytes(double* pdblMax) {
    return GetLimit(m_settings, LoadSettings::Limit::kBytes, pdblMax);
}
STDMETHODIMP UploadMethods::put_MaxBytes(double dblMax) { return m_settings.SetLimit(LoadSettings::Limit::kBytes, dblMax); }
STDMETHODIMP UploadMethods::get_MaxFileBytes(double* pdblMax) {
    return GetLimit(m_settings, LoadSettings::Limit::kFileBytes, pdblMax);
}
STDMETHODIMP UploadMethods::put_MaxFileBytes(double dblMax) {
    return m_settings.SetLimit(LoadSettings::Limit::kFileBytes, dblMax);
}
STDMETHODIMP UploadMethods::get_MaxFieldBytes(double* pdblMax) {
    return GetLimit(m_settings, LoadSettings::Limit::kFieldBytes, pdblMax);
}
STDMETHODIMP UploadMethods::put_MaxFieldBytes(double dblMax) {
    return m_settings.SetLimit(LoadSettings::Limit::kFieldBytes, dblMax);
}

STDMETHODIMP UploadMethods::get_TempFolder(BSTR* pbstrFolder) {
    if (!pbstrFolder) return E_POINTER;
    return m_settings.TempFolderText(pbstrFolder);
}

STDMETHODIMP UploadMethods::put_TempFolder(BSTR bstrFolder) { return m_settings.SetTempFolder(bstrFolder); }

STDMETHODIMP UploadMethods::get_HashWhileLoading(BSTR* pbstrAlgorithm) {
    if (!pbstrAlgorithm) return E_POINTER;
    *pbstrAlgorithm = SysAllocString(HashAlgorithmName(m_settings.HashWhileLoading()));
    return *pbstrAlgorithm ? S_OK : kUploadErrors.NoMemory();
}

STDMETHODIMP UploadMethods::put_HashWhileLoading(BSTR bstrAlgorithm) {
    return m_settings.SetHashWhileLoading(bstrAlgorithm);
}

STDMETHODIMP UploadMethods::get_AllowedTypes(BSTR* pbstrTypes) { return GetText(m_settings.AllowedTypes(), pbstrTypes); }

STDMETHODIMP UploadMethods::put_AllowedTypes(BSTR bstrTypes) { return m_settings.SetAllowedTypes(bstrTypes); }

STDMETHODIMP UploadMethods::get_ProgressID(BSTR* pbstrId) { return GetText(m_settings.ProgressId(), pbstrId); }

STDMETHODIMP UploadMethods::put_ProgressID(BSTR bstrId) { return m_settings.SetProgressId(bstrId); }

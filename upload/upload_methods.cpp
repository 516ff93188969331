#include "upload/upload_methods.h"

#include "platform/bstr_text.h"
#include "platform/hresult_checks.h"
#include "platform/variant_array.h"
#include "upload/form_loader.h"
#include "upload/part_text.h"
#include "upload/upload_errors.h"

UploadMethods::~UploadMethods() {
    m_names.Clear();
    if (m_pForm) m_pForm->Release();
}

STDMETHODIMP UploadMethods::get_CodePage(LONG* plCodePage) {
    if (!plCodePage) return E_POINTER;
    *plCodePage = m_lCodePage;
    return S_OK;
}

STDMETHODIMP UploadMethods::put_CodePage(LONG lCodePage) {
    if (lCodePage < 0 || (lCodePage != 0 && !IsValidCodePage(static_cast<UINT>(lCodePage))))
        return kUploadErrors.Fail(E_INVALIDARG, Msg::kBadCodePage, lCodePage);
    if (lCodePage != m_lCodePage) m_names.Clear();
    m_lCodePage = lCodePage;
    return S_OK;
}

// The page's code page is the loader's for the names in its messages.
STDMETHODIMP UploadMethods::Load(VARIANT* pvarBody) {
    LoadedForm* pForm = nullptr;
    RETURN_IF_FAILED(FormLoader(m_settings, EffectiveCodePage(m_lCodePage)).LoadBytes(pvarBody, &pForm));
    Replace(pForm);
    return S_OK;
}

STDMETHODIMP UploadMethods::LoadRequest(IDispatch* pRequest) {
    LoadedForm* pForm = nullptr;
    RETURN_IF_FAILED(FormLoader(m_settings, EffectiveCodePage(m_lCodePage)).ReadRequest(pRequest, &pForm));
    Replace(pForm);
    return S_OK;
}

void UploadMethods::Replace(LoadedForm* pForm) {
    m_names.Clear();
    if (m_pForm) m_pForm->Release();
    m_pForm = pForm;
}

STDMETHODIMP UploadMethods::get_Count(LONG* plCount) {
    if (!plCount) return E_POINTER;
    *plCount = m_pForm ? static_cast<LONG>(m_pForm->Parts().Count()) : 0;
    return S_OK;
}

bool UploadMethods::NamesReady() {
    return !m_pForm || m_names.Built() || m_names.Build(*m_pForm, EffectiveCodePage(m_lCodePage));
}

HRESULT UploadMethods::ReadyToLookUp(BSTR bstrName) {
    if (!bstrName) return kUploadErrors.Fail(E_INVALIDARG, Msg::kItemNameNull);
    return NamesReady() ? S_OK : kUploadErrors.NoMemory();
}

STDMETHODIMP UploadMethods::get_Names(VARIANT* pvarNames) {
    if (!pvarNames) return E_POINTER;
    VariantInit(pvarNames);
    if (!NamesReady()) return kUploadErrors.NoMemory();
    const std::uint32_t cParts = m_pForm ? m_pForm->Parts().Count() : 0;
    ULONG cDistinct = 0;
    for (std::uint32_t i = 0; i < cParts; ++i)
        if (m_names.IsFirstOfName(i)) ++cDistinct;
    VariantArray names(cDistinct);
    if (!names) return kUploadErrors.NoMemory();
    ULONG iName = 0;
    for (std::uint32_t i = 0; i < cParts; ++i) {
        if (!m_names.IsFirstOfName(i)) continue;
        VARIANT& element = names.Element(iName++);
        element.vt = VT_BSTR;
        element.bstrVal = CopyBstr(m_names.Name(i));
        if (!element.bstrVal) return kUploadErrors.NoMemory();
    }
    names.MoveTo(pvarNames);
    return S_OK;
}

STDMETHODIMP UploadMethods::Exists(BSTR bstrName, VARIANT_BOOL* pbExists) {
    if (!pbExists) return E_POINTER;
    *pbExists = VARIANT_FALSE;
    RETURN_IF_FAILED(ReadyToLookUp(bstrName));
    if (m_pForm && m_names.First(bstrName) != NameIndex::kNone) *pbExists = VARIANT_TRUE;
    return S_OK;
}

STDMETHODIMP UploadMethods::get_Item(BSTR bstrName, VARIANT* pvarValue) {
    if (!pvarValue) return E_POINTER;
    VariantInit(pvarValue);
    RETURN_IF_FAILED(ReadyToLookUp(bstrName));
    if (!m_pForm) return S_OK;
    for (std::uint32_t i = m_names.First(bstrName); i != NameIndex::kNone; i = m_names.Next(i)) {
        const FormPart& part = m_pForm->Parts().Part(i);
        if (!IsTextPart(part)) continue;
        BSTR bstrValue = PartTextValue(*m_pForm, part, EffectiveCodePage(m_lCodePage));
        if (!bstrValue) return kUploadErrors.NoMemory();
        pvarValue->vt = VT_BSTR;
        pvarValue->bstrVal = bstrValue;
        break;
    }
    return S_OK;
}

STDMETHODIMP UploadMethods::Values(BSTR bstrName, VARIANT* pvarValues) {
    if (!pvarValues) return E_POINTER;
    VariantInit(pvarValues);
    RETURN_IF_FAILED(ReadyToLookUp(bstrName));
    const std::uint32_t iFirst = m_pForm ? m_names.First(bstrName) : NameIndex::kNone;
    ULONG cValues = 0;
    for (std::uint32_t i = iFirst; i != NameIndex::kNone; i = m_names.Next(i))
        if (IsTextPart(m_pForm->Parts().Part(i))) ++cValues;
    VariantArray values(cValues);
    if (!values) return kUploadErrors.NoMemory();
    ULONG iValue = 0;
    for (std::uint32_t i = iFirst; i != NameIndex::kNone && iValue < cValues; i = m_names.Next(i)) {
        const FormPart& part = m_pForm->Parts().Part(i);
        if (!IsTextPart(part)) continue;
        VARIANT& element = values.Element(iValue++);
        element.vt = VT_BSTR;
        element.bstrVal = PartTextValue(*m_pForm, part, EffectiveCodePage(m_lCodePage));
        if (!element.bstrVal) return kUploadErrors.NoMemory();
    }
    values.MoveTo(pvarValues);
    return S_OK;
}

STDMETHODIMP UploadMethods::get_Files(VARIANT* pvarFiles) {
    if (!pvarFiles) return E_POINTER;
    VariantInit(pvarFiles);
    const std::uint32_t cParts = m_pForm ? m_pForm->Parts().Count() : 0;
    ULONG cFiles = 0;
    for (std::uint32_t i = 0; i < cParts; ++i)
        if (IsFilePart(m_pForm->Parts().Part(i))) ++cFiles;
    VariantArray files(cFiles);
    if (!files) return kUploadErrors.NoMemory();
    ULONG iFile = 0;
    for (std::uint32_t i = 0; i < cParts && iFile < cFiles; ++i) {
        if (!IsFilePart(m_pForm->Parts().Part(i))) continue;
        VARIANT& element = files.Element(iFile++);
        element.vt = VT_DISPATCH;
        element.pdispVal = nullptr;
        HRESULT hr = m_pfnCreateFile(m_pForm, i, EffectiveCodePage(m_lCodePage), &element.pdispVal);
        if (FAILED(hr)) return kUploadErrors.Fail(hr, Msg::kWorkMemory);
    }
    files.MoveTo(pvarFiles);
    return S_OK;
}

STDMETHODIMP UploadMethods::File(BSTR bstrName, IDispatch** ppFile) {
    if (!ppFile) return E_POINTER;
    *ppFile = nullptr;
    RETURN_IF_FAILED(ReadyToLookUp(bstrName));
    if (!m_pForm) return S_OK;
    for (std::uint32_t i = m_names.First(bstrName); i != NameIndex::kNone; i = m_names.Next(i)) {
        if (!IsFilePart(m_pForm->Parts().Part(i))) continue;
        HRESULT hr = m_pfnCreateFile(m_pForm, i, EffectiveCodePage(m_lCodePage), ppFile);
        return FAILED(hr) ? kUploadErrors.Fail(hr, Msg::kWorkMemory) : S_OK;
    }
    return S_OK;
}

#include "upload/upload_methods.h"

#include "platform/win32_owners.h"
#include "upload/part_text.h"
#include "upload/upload_errors.h"
#include "upload/upload_messages.h"
#include "webmng/byte_array_arg.h"

namespace {
HRESULT NoMemory() { return UploadNoMemory(); }

// Load takes the byte array as a script hands it over: by value, or by
// reference to a byte array or to a variable holding one.
const VARIANT* ByteArrayOf(const VARIANT* pvar) {
    if (pvar && pvar->vt == (VT_BYREF | VT_VARIANT)) pvar = pvar->pvarVal;
    return pvar;
}

SAFEARRAY* BodyArray(const VARIANT* pvar) {
    if (!pvar) return nullptr;
    if (pvar->vt == (VT_BYREF | VT_ARRAY | VT_UI1)) {
        VARIANT plain;
        plain.vt = VT_ARRAY | VT_UI1;
        plain.parray = pvar->pparray ? *pvar->pparray : nullptr;
        return IsByteArrayArg(&plain) ? plain.parray : nullptr;
    }
    return IsByteArrayArg(pvar) ? pvar->parray : nullptr;
}

// A one-dimensional array of VARIANTs with lower bound 0, filled by the
// caller through Element(); cleared on every way out unless handed over.
class VariantArray {
public:
    explicit VariantArray(ULONG cElements) {
        SAFEARRAYBOUND bound{cElements, 0};
        m_psa = SafeArrayCreate(VT_VARIANT, 1, &bound);
        if (m_psa && FAILED(SafeArrayAccessData(m_psa, reinterpret_cast<void**>(&m_pElements)))) {
            SafeArrayDestroy(m_psa);
            m_psa = nullptr;
        }
    }
    ~VariantArray() {
        if (!m_psa) return;
        SafeArrayUnaccessData(m_psa);
        SafeArrayDestroy(m_psa);
    }
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;

    explicit operator bool() const { return m_psa != nullptr; }
    VARIANT& Element(ULONG i) { return m_pElements[i]; }
    // Hands the array over as the variant's value.
    void MoveTo(VARIANT* pvar) {
        SafeArrayUnaccessData(m_psa);
        pvar->vt = VT_ARRAY | VT_VARIANT;
        pvar->parray = m_psa;
        m_psa = nullptr;
    }

private:
    SAFEARRAY* m_psa = nullptr;
    VARIANT* m_pElements = nullptr;
};
}  // namespace

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
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kBadCodePage, lCodePage);
    if (lCodePage != m_lCodePage) m_names.Clear();
    m_lCodePage = lCodePage;
    return S_OK;
}

STDMETHODIMP UploadMethods::get_MaxParts(LONG* plMaxParts) {
    if (!plMaxParts) return E_POINTER;
    *plMaxParts = m_lMaxParts;
    return S_OK;
}

STDMETHODIMP UploadMethods::put_MaxParts(LONG lMaxParts) {
    if (lMaxParts < 0) return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kBadMaxParts);
    m_lMaxParts = lMaxParts;
    return S_OK;
}

// An earlier form is replaced only by one that loads.
STDMETHODIMP UploadMethods::Load(VARIANT* pvarBody) {
    SAFEARRAY* psa = BodyArray(ByteArrayOf(pvarBody));
    if (!psa) return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kNotByteArray);
    LockedByteArray body;
    if (!body.Lock(psa)) return UploadFailure(IID_IUpload, E_FAIL, UploadMsg::kNotByteArray);
    PartsResult result;
    LoadedForm* pForm = LoadedForm::Load(body.data(), body.size(), static_cast<std::uint32_t>(m_lMaxParts), &result);
    body.Unlock();
    if (!pForm) return LoadFailure(result, m_lMaxParts);
    const HRESULT hr = AddFacts(pForm);
    if (FAILED(hr)) {
        pForm->Release();
        return hr;
    }
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

STDMETHODIMP UploadMethods::get_Names(VARIANT* pvarNames) {
    if (!pvarNames) return E_POINTER;
    VariantInit(pvarNames);
    if (!NamesReady()) return NoMemory();
    const std::uint32_t cParts = m_pForm ? m_pForm->Parts().Count() : 0;
    ULONG cDistinct = 0;
    for (std::uint32_t i = 0; i < cParts; ++i)
        if (m_names.IsFirstOfName(i)) ++cDistinct;
    VariantArray names(cDistinct);
    if (!names) return NoMemory();
    ULONG iName = 0;
    for (std::uint32_t i = 0; i < cParts; ++i) {
        if (!m_names.IsFirstOfName(i)) continue;
        VARIANT& element = names.Element(iName++);
        element.vt = VT_BSTR;
        element.bstrVal = SysAllocStringLen(m_names.Name(i), SysStringLen(m_names.Name(i)));
        if (!element.bstrVal) return NoMemory();
    }
    names.MoveTo(pvarNames);
    return S_OK;
}

STDMETHODIMP UploadMethods::Exists(BSTR bstrName, VARIANT_BOOL* pbExists) {
    if (!pbExists) return E_POINTER;
    *pbExists = VARIANT_FALSE;
    if (!bstrName) return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kItemNameNull);
    if (!NamesReady()) return NoMemory();
    if (m_pForm && m_names.First(bstrName) != NameIndex::kNone) *pbExists = VARIANT_TRUE;
    return S_OK;
}

STDMETHODIMP UploadMethods::get_Item(BSTR bstrName, VARIANT* pvarValue) {
    if (!pvarValue) return E_POINTER;
    VariantInit(pvarValue);
    if (!bstrName) return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kItemNameNull);
    if (!NamesReady()) return NoMemory();
    if (!m_pForm) return S_OK;
    for (std::uint32_t i = m_names.First(bstrName); i != NameIndex::kNone; i = m_names.Next(i)) {
        const FormPart& part = m_pForm->Parts().Part(i);
        if (!IsTextPart(part)) continue;
        BSTR bstrValue = PartTextValue(*m_pForm, part, EffectiveCodePage(m_lCodePage));
        if (!bstrValue) return NoMemory();
        pvarValue->vt = VT_BSTR;
        pvarValue->bstrVal = bstrValue;
        break;
    }
    return S_OK;
}

STDMETHODIMP UploadMethods::Values(BSTR bstrName, VARIANT* pvarValues) {
    if (!pvarValues) return E_POINTER;
    VariantInit(pvarValues);
    if (!bstrName) return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kItemNameNull);
    if (!NamesReady()) return NoMemory();
    const std::uint32_t iFirst = m_pForm ? m_names.First(bstrName) : NameIndex::kNone;
    ULONG cValues = 0;
    for (std::uint32_t i = iFirst; i != NameIndex::kNone; i = m_names.Next(i))
        if (IsTextPart(m_pForm->Parts().Part(i))) ++cValues;
    VariantArray values(cValues);
    if (!values) return NoMemory();
    ULONG iValue = 0;
    for (std::uint32_t i = iFirst; i != NameIndex::kNone && iValue < cValues; i = m_names.Next(i)) {
        const FormPart& part = m_pForm->Parts().Part(i);
        if (!IsTextPart(part)) continue;
        VARIANT& element = values.Element(iValue++);
        element.vt = VT_BSTR;
        element.bstrVal = PartTextValue(*m_pForm, part, EffectiveCodePage(m_lCodePage));
        if (!element.bstrVal) return NoMemory();
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
    if (!files) return NoMemory();
    ULONG iFile = 0;
    for (std::uint32_t i = 0; i < cParts && iFile < cFiles; ++i) {
        if (!IsFilePart(m_pForm->Parts().Part(i))) continue;
        VARIANT& element = files.Element(iFile++);
        element.vt = VT_DISPATCH;
        element.pdispVal = nullptr;
        HRESULT hr = m_pfnCreateFile(m_pForm, i, EffectiveCodePage(m_lCodePage), &element.pdispVal);
        if (FAILED(hr)) return UploadFailure(IID_IUpload, hr, UploadMsg::kWorkMemory);
    }
    files.MoveTo(pvarFiles);
    return S_OK;
}

STDMETHODIMP UploadMethods::File(BSTR bstrName, IDispatch** ppFile) {
    if (!ppFile) return E_POINTER;
    *ppFile = nullptr;
    if (!bstrName) return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kItemNameNull);
    if (!NamesReady()) return NoMemory();
    if (!m_pForm) return S_OK;
    for (std::uint32_t i = m_names.First(bstrName); i != NameIndex::kNone; i = m_names.Next(i)) {
        if (!IsFilePart(m_pForm->Parts().Part(i))) continue;
        HRESULT hr = m_pfnCreateFile(m_pForm, i, EffectiveCodePage(m_lCodePage), ppFile);
        return FAILED(hr) ? UploadFailure(IID_IUpload, hr, UploadMsg::kWorkMemory) : S_OK;
    }
    return S_OK;
}

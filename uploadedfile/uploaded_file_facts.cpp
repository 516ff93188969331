// What an uploaded file is: its hash, and the type and image size its first
// bytes told when its source learnt them.
#include "platform/content_hash.h"
#include "platform/win32_owners.h"
#include "uploadedfile/file_errors.h"
#include "uploadedfile/uploaded_file_methods.h"

namespace {
// The algorithm a script names: absent or empty is SHA-256; ERROR_SUCCESS
// or E_INVALIDARG with the message published.
HRESULT AlgorithmArgument(const VARIANT& varAlgorithm, HashAlgorithm* pAlgorithm) {
    const VARIANT* pvar = &varAlgorithm;
    if (pvar->vt == (VT_BYREF | VT_VARIANT) && pvar->pvarVal) pvar = pvar->pvarVal;
    *pAlgorithm = HashAlgorithm::kSha256;
    if (pvar->vt == VT_ERROR || pvar->vt == VT_EMPTY) return S_OK;
    VARIANT varText;
    VariantInit(&varText);
    if (FAILED(VariantChangeType(&varText, const_cast<VARIANT*>(pvar), 0, VT_BSTR)))
        return kFileErrors.FailText(E_INVALIDARG, Msg::kBadHashAlgorithm, L"");
    UniqueBstr name(varText.bstrVal);
    if (SysStringLen(name.get()) == 0) return S_OK;
    *pAlgorithm = HashAlgorithmNamed(name.get());
    if (*pAlgorithm == HashAlgorithm::kNone)
        return kFileErrors.FailText(E_INVALIDARG, Msg::kBadHashAlgorithm, name.get());
    return S_OK;
}

BSTR AsciiBstr(const char* psz) {
    const UINT cch = static_cast<UINT>(lstrlenA(psz));
    BSTR bstr = SysAllocStringLen(nullptr, cch);
    for (UINT i = 0; bstr && i < cch; ++i) bstr[i] = static_cast<unsigned char>(psz[i]);
    return bstr;
}
}  // namespace

// Read from the file's bytes once per algorithm, then kept with the source;
// a hash taken while a form loaded is read from there.
STDMETHODIMP UploadedFileMethods::Hash(VARIANT varAlgorithm, BSTR* pbstrHash) {
    if (!pbstrHash) return E_POINTER;
    *pbstrHash = nullptr;
    HashAlgorithm algorithm;
    HRESULT hr = AlgorithmArgument(varAlgorithm, &algorithm);
    if (FAILED(hr)) return hr;
    KnownFacts* pFacts = m_pSource->Facts(m_iItem);
    unsigned char abDigest[kcbMaxDigest];
    if (pFacts && pFacts->Knows(algorithm)) {
        for (std::size_t i = 0; i < kcbMaxDigest; ++i) abDigest[i] = pFacts->abDigests[static_cast<int>(algorithm)][i];
    } else {
        const DWORD dwError = HashHeldFile(*m_pSource, m_iItem, algorithm, abDigest);
        if (dwError != ERROR_SUCCESS) return ReadFailure(Msg::kHashFailed, dwError);
        if (pFacts) pFacts->Keep(algorithm, abDigest);
    }
    wchar_t szText[kcchMaxDigestText];
    DigestText(abDigest, DigestBytes(algorithm), szText);
    *pbstrHash = SysAllocString(szText);
    return *pbstrHash ? S_OK : kFileErrors.NoMemory();
}

STDMETHODIMP UploadedFileMethods::get_DetectedType(BSTR* pbstrType) {
    if (!pbstrType) return E_POINTER;
    const KnownFacts* pFacts = m_pSource->Facts(m_iItem);
    *pbstrType = AsciiBstr(pFacts && pFacts->pszDetectedType ? pFacts->pszDetectedType : "");
    return *pbstrType ? S_OK : kFileErrors.NoMemory();
}

STDMETHODIMP UploadedFileMethods::get_ImageWidth(LONG* plWidth) {
    if (!plWidth) return E_POINTER;
    const KnownFacts* pFacts = m_pSource->Facts(m_iItem);
    *plWidth = pFacts ? static_cast<LONG>(pFacts->nWidth) : 0;
    return S_OK;
}

STDMETHODIMP UploadedFileMethods::get_ImageHeight(LONG* plHeight) {
    if (!plHeight) return E_POINTER;
    const KnownFacts* pFacts = m_pSource->Facts(m_iItem);
    *plHeight = pFacts ? static_cast<LONG>(pFacts->nHeight) : 0;
    return S_OK;
}

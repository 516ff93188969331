// What the Upload object learns of each file while a form loads: the hash
// the page asked for beforehand, and the types it takes.
#include <utility>

#include "platform/bstr_text.h"
#include "upload/part_text.h"
#include "upload/upload_errors.h"
#include "upload/upload_methods.h"

STDMETHODIMP UploadMethods::get_HashWhileLoading(BSTR* pbstrAlgorithm) {
    if (!pbstrAlgorithm) return E_POINTER;
    *pbstrAlgorithm = SysAllocString(HashAlgorithmName(m_hashWhileLoading));
    return *pbstrAlgorithm ? S_OK : kUploadErrors.NoMemory();
}

// Empty: no hash while loading.
STDMETHODIMP UploadMethods::put_HashWhileLoading(BSTR bstrAlgorithm) {
    if (SysStringLen(bstrAlgorithm) == 0) {
        m_hashWhileLoading = HashAlgorithm::kNone;
        return S_OK;
    }
    const HashAlgorithm algorithm = HashAlgorithmNamed(bstrAlgorithm);
    if (algorithm == HashAlgorithm::kNone)
        return kUploadErrors.FailText(E_INVALIDARG, Msg::kBadHashAlgorithm, bstrAlgorithm);
    m_hashWhileLoading = algorithm;
    return S_OK;
}

STDMETHODIMP UploadMethods::get_AllowedTypes(BSTR* pbstrTypes) {
    if (!pbstrTypes) return E_POINTER;
    *pbstrTypes = CopyBstr(m_allowedTypes.get());
    return *pbstrTypes ? S_OK : kUploadErrors.NoMemory();
}

STDMETHODIMP UploadMethods::put_AllowedTypes(BSTR bstrTypes) { return KeepText(bstrTypes, &m_allowedTypes); }

HRESULT UploadMethods::TypeRefused(const char* pchName, std::uint32_t cchName, std::uint32_t flags,
                                   const char* pszType) {
    UniqueBstr name(FileNameText(pchName, cchName, flags, EffectiveCodePage(m_lCodePage)));
    wchar_t szType[128];
    const char* pszShown = pszType[0] ? pszType : nullptr;
    int i = 0;
    for (; pszShown && pszShown[i] && i < 127; ++i) szType[i] = static_cast<unsigned char>(pszShown[i]);
    szType[i] = L'\0';
    if (!name) return kUploadErrors.NoMemory();
    return kUploadErrors.FailText(Refusal::kTypeNotAllowed, Msg::kTypeNotAllowed, name.get(),
                             pszShown ? szType : Msg::kUnknownType);
}

HRESULT UploadMethods::AddFacts(LoadedForm* pForm) {
    ModuleBlock facts;
    std::uint32_t iRefused = UINT32_MAX;
    const DWORD dwError = ReadFormFacts(*pForm, m_hashWhileLoading, m_allowedTypes.get(), &facts, &iRefused);
    if (dwError == ERROR_NOT_ENOUGH_MEMORY) return kUploadErrors.NoMemory();
    if (dwError != ERROR_SUCCESS) return kUploadErrors.FailSystem(Msg::kHashFailed, dwError);
    pForm->SetFacts(std::move(facts));
    if (iRefused == UINT32_MAX) return S_OK;
    const FormPart& part = pForm->Parts().Part(iRefused);
    return TypeRefused(pForm->Text(part.fileNameOffset), part.fileNameLength, part.flags,
                       pForm->Facts(iRefused)->pszDetectedType);
}

HRESULT UploadMethods::FactsFailure(const FactsSink& facts) {
    switch (facts.Stopped()) {
    case FactsSink::Stop::kTypeRefused:
        return TypeRefused(reinterpret_cast<const char*>(facts.RefusedName()), facts.RefusedNameLength(),
                           facts.RefusedFlags(), facts.RefusedType());
    case FactsSink::Stop::kHashFailed:
        return kUploadErrors.FailSystem(Msg::kHashFailed, facts.SystemError());
    case FactsSink::Stop::kNoMemory:
    case FactsSink::Stop::kNone:
        break;
    }
    return kUploadErrors.NoMemory();
}

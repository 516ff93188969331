#include "upload/load_settings.h"

#include <cmath>

#include "platform/bstr_text.h"
#include "progress/progress_id.h"
#include "upload/upload_errors.h"

HRESULT LoadSettings::SetMaxParts(LONG lMaxParts) {
    if (lMaxParts < 0) return kUploadErrors.Fail(E_INVALIDARG, Msg::kBadMaxParts);
    m_lMaxParts = lMaxParts;
    return S_OK;
}

HRESULT LoadSettings::SetLimit(Limit limit, double dblLimit) {
    static const wchar_t* const kNames[] = {L"MaxBytes", L"MaxFileBytes", L"MaxFieldBytes"};
    const wchar_t* pszName = kNames[static_cast<int>(limit)];
    if (!(dblLimit >= 0)) return kUploadErrors.FailText(E_INVALIDARG, Msg::kBadLimit, pszName);
    // A fraction would be cut to whole bytes without a word: 0.5 would mean no limit.
    if (dblLimit != std::floor(dblLimit)) return kUploadErrors.FailText(E_INVALIDARG, Msg::kLimitNotWhole, pszName);
    m_adblLimits[static_cast<int>(limit)] = dblLimit;
    return S_OK;
}

std::uint64_t LoadSettings::LimitBytes(Limit limit) const {
    const double dblLimit = LimitValue(limit);
    return dblLimit >= 18446744073709549568.0 ? UINT64_MAX : static_cast<std::uint64_t>(dblLimit);
}

DWORD SystemTempFolder(wchar_t (&szFolder)[MAX_PATH + 1]) {
    szFolder[0] = L'\0';
    const DWORD cch = GetTempPathW(MAX_PATH + 1, szFolder);
    if (cch > 0 && cch <= MAX_PATH) return ERROR_SUCCESS;
    szFolder[0] = L'\0';
    const DWORD dwError = cch == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
    return dwError != ERROR_SUCCESS ? dwError : ERROR_PATH_NOT_FOUND;
}

HRESULT LoadSettings::TempFolderText(BSTR* pbstrFolder) const {
    if (m_tempFolder) {
        *pbstrFolder = CopyBstr(m_tempFolder.get());
    } else {
        wchar_t szTemp[MAX_PATH + 1];
        SystemTempFolder(szTemp);  // empty when there is none
        *pbstrFolder = SysAllocString(szTemp);
    }
    return *pbstrFolder ? S_OK : kUploadErrors.NoMemory();
}

HRESULT LoadSettings::SetTempFolder(BSTR bstrFolder) {
    // The system would stop reading the folder there and spool elsewhere.
    if (HasEmbeddedZero(bstrFolder)) return kUploadErrors.Fail(Refusal::kPathHasZero, Msg::kPathHasZero);
    return KeepText(bstrFolder, &m_tempFolder);
}

HRESULT LoadSettings::SetHashWhileLoading(BSTR bstrAlgorithm) {
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

HRESULT LoadSettings::SetProgressId(BSTR bstrId) {
    const UINT cch = bstrId ? SysStringLen(bstrId) : 0;
    if (cch == 0) {
        m_progressId.reset();
        return S_OK;
    }
    if (!ProgressIdValid(reinterpret_cast<const char16_t*>(bstrId), cch))
        return kUploadErrors.Fail(E_INVALIDARG, Msg::kBadProgressId);
    BSTR bstrCopy = SysAllocStringLen(bstrId, cch);
    if (!bstrCopy) return kUploadErrors.NoMemory();
    m_progressId.reset(bstrCopy);
    return S_OK;
}

HRESULT LoadSettings::KeepText(BSTR bstrText, UniqueBstr* pKept) {
    if (!bstrText || !bstrText[0]) {
        pKept->reset();
        return S_OK;
    }
    BSTR bstrCopy = CopyBstr(bstrText);
    if (!bstrCopy) return kUploadErrors.NoMemory();
    pKept->reset(bstrCopy);
    return S_OK;
}

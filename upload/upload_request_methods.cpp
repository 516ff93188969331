// LoadRequest: the request read in pieces, text values kept in memory and
// files spooled to disk, under the page's limits.
#include <cmath>
#include <cstdint>
#include <utility>

#include "formscan/part_stream.h"
#include "platform/bstr_text.h"
#include "upload/form_spooler.h"
#include "uploadedfile/leftovers.h"
#include "upload/request_body.h"
#include "upload/part_text.h"
#include "upload/upload_errors.h"
#include "upload/upload_methods.h"
#include "upload/upload_progress.h"

namespace {

constexpr std::uint32_t kcbPiece = 256u << 10;

// A limit property as a byte count (0: none); the largest doubles mean no
// practical limit either.
std::uint64_t LimitBytes(double dblLimit) {
    return dblLimit >= 18446744073709549568.0 ? UINT64_MAX : static_cast<std::uint64_t>(dblLimit);
}

// The system's temporary folder, with its trailing separator: ERROR_SUCCESS
// or why there is none.
DWORD SystemTempFolder(wchar_t (&szFolder)[MAX_PATH + 1]) {
    szFolder[0] = L'\0';
    const DWORD cch = GetTempPathW(MAX_PATH + 1, szFolder);
    if (cch > 0 && cch <= MAX_PATH) return ERROR_SUCCESS;
    szFolder[0] = L'\0';
    const DWORD dwError = cch == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
    return dwError != ERROR_SUCCESS ? dwError : ERROR_PATH_NOT_FOUND;
}

HRESULT PutLimit(double dblLimit, double* pdblTarget, const wchar_t* pszName) {
    if (!(dblLimit >= 0)) return kUploadErrors.FailText(E_INVALIDARG, Msg::kBadLimit, pszName);
    // A fraction would be cut to whole bytes without a word: 0.5 would mean no limit.
    if (dblLimit != std::floor(dblLimit))
        return kUploadErrors.FailText(E_INVALIDARG, Msg::kLimitNotWhole, pszName);
    *pdblTarget = dblLimit;
    return S_OK;
}

HRESULT GetLimit(double dblLimit, double* pdblLimit) {
    if (!pdblLimit) return E_POINTER;
    *pdblLimit = dblLimit;
    return S_OK;
}

HRESULT RequestFailure(RequestBody::Status status, HRESULT hrRead) {
    switch (status) {
    case RequestBody::Status::kNotRequest:
        return kUploadErrors.Fail(Refusal::kNotRequest, Msg::kNotRequest);
    case RequestBody::Status::kBadTotal:
        return kUploadErrors.Fail(Refusal::kBadTotalBytes, Msg::kBadTotalBytes);
    case RequestBody::Status::kReadFailed:
        return kUploadErrors.Fail(hrRead, Msg::kBinaryReadFailed, static_cast<long>(hrRead));
    case RequestBody::Status::kNotBytes:
    case RequestBody::Status::kOk:
        break;
    }
    return kUploadErrors.Fail(Refusal::kReadNotBytes, Msg::kBinaryReadNotBytes);
}

HRESULT SpoolFailure(const FormSpooler& spooler, const SpoolLimits& limits) {
    switch (spooler.Stopped()) {
    case FormSpooler::Stop::kFileTooLarge:
        return kUploadErrors.FailText(Refusal::kMaxFileBytes, Msg::kMaxFileBytes, CountText(limits.cbMaxFile).sz);
    case FormSpooler::Stop::kFieldTooLarge:
        return kUploadErrors.FailText(Refusal::kMaxFieldBytes, Msg::kMaxFieldBytes,
                                 CountText(limits.cbMaxField).sz);
    case FormSpooler::Stop::kTempFileCreate:
        return kUploadErrors.FailSystem(Msg::kTempFileCreate, spooler.SystemError());
    case FormSpooler::Stop::kTempFileWrite:
        return kUploadErrors.FailSystem(Msg::kTempFileWrite, spooler.SystemError());
    case FormSpooler::Stop::kNoMemory:
    case FormSpooler::Stop::kNone:
        break;
    }
    return kUploadErrors.NoMemory();
}

}  // namespace

// As Load, an earlier form is replaced only by one that loads; a refusal
// keeps nothing of the new one (its temporary files close, and so go).
HRESULT UploadMethods::ReadRequest(IDispatch* pRequest, UploadProgress* pProgress) {
    RequestBody body(pRequest);
    std::uint64_t cbTotal = 0;
    RequestBody::Status status = body.Open(&cbTotal);
    if (status != RequestBody::Status::kOk) return RequestFailure(status, S_OK);
    const std::uint64_t cbMaxBytes = LimitBytes(m_dblMaxBytes);
    if (cbMaxBytes && cbTotal > cbMaxBytes)
        return kUploadErrors.FailText(Refusal::kMaxBytes, Msg::kMaxBytes, CountText(cbTotal).sz,
                                 CountText(cbMaxBytes).sz);
    // After the size check: a body refused by its length never gets a record.
    pProgress->Start(cbTotal);

    wchar_t szSystemTemp[MAX_PATH + 1];
    const wchar_t* pszTempFolder = m_tempFolder.get();
    if (!pszTempFolder) {
        const DWORD dwError = SystemTempFolder(szSystemTemp);
        if (dwError != ERROR_SUCCESS) return kUploadErrors.FailSystem(Msg::kTempFileCreate, dwError);
        pszTempFolder = szSystemTemp;
    }
    SweepLeftovers(pszTempFolder, static_cast<UINT>(lstrlenW(pszTempFolder)));
    // A boundary the request names is the body's: the first line is checked
    // against it rather than taken at its word.
    unsigned char abBoundary[kcbMaxBoundary];
    std::uint32_t cbBoundary = 0;
    if (!body.Boundary(abBoundary, &cbBoundary)) return kUploadErrors.NoMemory();
    const SpoolLimits limits{LimitBytes(m_dblMaxFileBytes), LimitBytes(m_dblMaxFieldBytes)};
    FormSpooler spooler(limits, pszTempFolder);
    FactsSink facts(&spooler, m_hashWhileLoading, m_allowedTypes.get());
    ProgressSink progressSink(&facts, pProgress, EffectiveCodePage(m_lCodePage));
    PartStream stream(static_cast<std::uint32_t>(m_lMaxParts), &progressSink);
    if (cbBoundary != 0) stream.NameBoundary(abBoundary, cbBoundary);
    PartsResult result = PartsResult::kOk;
    // Bytes after the closing line are not the form's: they are left unread.
    for (std::uint64_t cbRead = 0; cbRead < cbTotal && result == PartsResult::kOk && !stream.Complete();) {
        const std::uint32_t cbWant =
            cbTotal - cbRead < kcbPiece ? static_cast<std::uint32_t>(cbTotal - cbRead) : kcbPiece;
        const unsigned char* pb = nullptr;
        std::uint32_t cb = 0;
        status = body.Next(cbWant, &pb, &cb);
        if (status != RequestBody::Status::kOk) return RequestFailure(status, body.Failure());
        if (cb == 0)
            return kUploadErrors.FailText(Refusal::kEndedEarly, Msg::kEndedEarly, CountText(cbRead).sz,
                                     CountText(cbTotal).sz);
        if (cb > cbTotal - cbRead) cb = static_cast<std::uint32_t>(cbTotal - cbRead);  // more than the body holds
        cbRead += cb;
        pProgress->Advance(cb);
        result = stream.Write(pb, cb);
    }
    if (result == PartsResult::kOk) result = stream.End();
    if (result == PartsResult::kStopped)
        return facts.Stopped() != FactsSink::Stop::kNone ? FactsFailure(facts) : SpoolFailure(spooler, limits);
    if (result != PartsResult::kOk) return LoadFailure(result, m_lMaxParts);

    FormParts parts = stream.TakeParts();
    ModuleBlock values, files;
    spooler.HandOver(parts, &values, &files);
    LoadedForm* pForm = LoadedForm::Adopt(std::move(parts), std::move(values), std::move(files));
    if (!pForm) return kUploadErrors.NoMemory();
    pForm->SetFacts(facts.TakeFacts());
    Replace(pForm);
    return S_OK;
}

STDMETHODIMP UploadMethods::get_TempFolder(BSTR* pbstrFolder) {
    if (!pbstrFolder) return E_POINTER;
    if (m_tempFolder) {
        *pbstrFolder = CopyBstr(m_tempFolder.get());
    } else {
        wchar_t szTemp[MAX_PATH + 1];
        SystemTempFolder(szTemp);  // empty when there is none
        *pbstrFolder = SysAllocString(szTemp);
    }
    return *pbstrFolder ? S_OK : kUploadErrors.NoMemory();
}

// An empty folder name goes back to the system's temporary folder.
STDMETHODIMP UploadMethods::put_TempFolder(BSTR bstrFolder) {
    // The system would stop reading the folder there and spool elsewhere.
    if (HasEmbeddedZero(bstrFolder)) return kUploadErrors.Fail(Refusal::kPathHasZero, Msg::kPathHasZero);
    return KeepText(bstrFolder, &m_tempFolder);
}

STDMETHODIMP UploadMethods::get_MaxBytes(double* pdblMax) { return GetLimit(m_dblMaxBytes, pdblMax); }
STDMETHODIMP UploadMethods::put_MaxBytes(double dblMax) { return PutLimit(dblMax, &m_dblMaxBytes, L"MaxBytes"); }
STDMETHODIMP UploadMethods::get_MaxFileBytes(double* pdblMax) { return GetLimit(m_dblMaxFileBytes, pdblMax); }
STDMETHODIMP UploadMethods::put_MaxFileBytes(double dblMax) {
    return PutLimit(dblMax, &m_dblMaxFileBytes, L"MaxFileBytes");
}
STDMETHODIMP UploadMethods::get_MaxFieldBytes(double* pdblMax) { return GetLimit(m_dblMaxFieldBytes, pdblMax); }
STDMETHODIMP UploadMethods::put_MaxFieldBytes(double dblMax) {
    return PutLimit(dblMax, &m_dblMaxFieldBytes, L"MaxFieldBytes");
}

#include "upload/form_loader.h"

#include <cstdint>
#include <utility>

#include "formscan/part_stream.h"
#include "platform/byte_array.h"
#include "upload/form_spooler.h"
#include "upload/part_text.h"
#include "upload/request_body.h"
#include "upload/upload_errors.h"
#include "upload/upload_progress.h"
#include "uploadedfile/leftovers.h"

namespace {

constexpr std::uint32_t kcbPiece = 256u << 10;

// Load takes the byte array as a script hands it over: by value, or by
// reference to a byte array or to a variable holding one.
const VARIANT* ByteArrayOf(const VARIANT* pvar) {
    if (pvar && pvar->vt == (VT_BYREF | VT_VARIANT)) pvar = pvar->pvarVal;
    return pvar;
}

SAFEARRAY* BodyArray(const VARIANT* pvar) {
    if (!pvar) return nullptr;
    if (pvar->vt == (VT_BYREF | VT_ARRAY | VT_UI1)) {
        SAFEARRAY* psa = pvar->pparray ? *pvar->pparray : nullptr;
        return IsByteArray(psa) ? psa : nullptr;
    }
    return IsByteArrayArg(pvar) ? pvar->parray : nullptr;
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

HRESULT FormLoader::LoadBytes(VARIANT* pvarBody, LoadedForm** ppForm) {
    *ppForm = nullptr;
    UploadProgress progress(m_settings.ProgressId());
    return progress.End(BytesSteps(pvarBody, &progress, ppForm));
}

HRESULT FormLoader::ReadRequest(IDispatch* pRequest, LoadedForm** ppForm) {
    *ppForm = nullptr;
    UploadProgress progress(m_settings.ProgressId());
    return progress.End(RequestSteps(pRequest, &progress, ppForm));
}

HRESULT FormLoader::BytesSteps(VARIANT* pvarBody, UploadProgress* pProgress, LoadedForm** ppForm) {
    SAFEARRAY* psa = BodyArray(ByteArrayOf(pvarBody));
    if (!psa) return kUploadErrors.Fail(E_INVALIDARG, Msg::kNotByteArray);
    LockedByteArray body;
    if (!body.Lock(psa)) return kUploadErrors.Fail(E_FAIL, Msg::kNotByteArray);
    // A body in memory is one step: nothing is read while it loads.
    pProgress->Start(body.size());
    pProgress->Advance(body.size());
    const LONG lMaxParts = m_settings.MaxParts();
    PartsResult result;
    LoadedForm* pForm = LoadedForm::Load(body.data(), body.size(), static_cast<std::uint32_t>(lMaxParts), &result);
    body.Unlock();
    if (!pForm) return LoadFailure(result, lMaxParts);
    const HRESULT hr = AddFacts(pForm);
    if (FAILED(hr)) {
        pForm->Release();
        return hr;
    }
    *ppForm = pForm;
    return S_OK;
}

// A refusal keeps nothing of the new form (its temporary files close, and
// so go).
HRESULT FormLoader::RequestSteps(IDispatch* pRequest, UploadProgress* pProgress, LoadedForm** ppForm) {
    RequestBody body(pRequest);
    std::uint64_t cbTotal = 0;
    RequestBody::Status status = body.Open(&cbTotal);
    if (status != RequestBody::Status::kOk) return RequestFailure(status, S_OK);
    const std::uint64_t cbMaxBytes = m_settings.LimitBytes(LoadSettings::Limit::kBytes);
    if (cbMaxBytes && cbTotal > cbMaxBytes)
        return kUploadErrors.FailText(Refusal::kMaxBytes, Msg::kMaxBytes, CountText(cbTotal).sz,
                                 CountText(cbMaxBytes).sz);
    // After the size check: a body refused by its length never gets a record.
    pProgress->Start(cbTotal);

    wchar_t szSystemTemp[MAX_PATH + 1];
    const wchar_t* pszTempFolder = m_settings.TempFolder();
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
    const SpoolLimits limits{m_settings.LimitBytes(LoadSettings::Limit::kFileBytes),
                             m_settings.LimitBytes(LoadSettings::Limit::kFieldBytes)};
    FormSpooler spooler(limits, pszTempFolder);
    FactsSink facts(&spooler, m_settings.HashWhileLoading(), m_settings.AllowedTypes());
    ProgressSink progressSink(&facts, pProgress, m_uCodePage);
    const LONG lMaxParts = m_settings.MaxParts();
    PartStream stream(static_cast<std::uint32_t>(lMaxParts), &progressSink);
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
    if (result != PartsResult::kOk) return LoadFailure(result, lMaxParts);

    FormParts parts = stream.TakeParts();
    ModuleBlock values, files;
    spooler.HandOver(parts, &values, &files);
    LoadedForm* pForm = LoadedForm::Adopt(std::move(parts), std::move(values), std::move(files));
    if (!pForm) return kUploadErrors.NoMemory();
    pForm->SetFacts(facts.TakeFacts());
    *ppForm = pForm;
    return S_OK;
}

HRESULT FormLoader::TypeRefused(const char* pchName, std::uint32_t cchName, std::uint32_t flags,
                                const char* pszType) {
    UniqueBstr name(FileNameText(pchName, cchName, flags, m_uCodePage));
    wchar_t szType[128];
    const char* pszShown = pszType[0] ? pszType : nullptr;
    int i = 0;
    for (; pszShown && pszShown[i] && i < 127; ++i) szType[i] = static_cast<unsigned char>(pszShown[i]);
    szType[i] = L'\0';
    if (!name) return kUploadErrors.NoMemory();
    return kUploadErrors.FailText(Refusal::kTypeNotAllowed, Msg::kTypeNotAllowed, name.get(),
                                  pszShown ? szType : Msg::kUnknownType);
}

HRESULT FormLoader::AddFacts(LoadedForm* pForm) {
    ModuleBlock facts;
    std::uint32_t iRefused = UINT32_MAX;
    const DWORD dwError =
        ReadFormFacts(*pForm, m_settings.HashWhileLoading(), m_settings.AllowedTypes(), &facts, &iRefused);
    if (dwError == ERROR_NOT_ENOUGH_MEMORY) return kUploadErrors.NoMemory();
    if (dwError != ERROR_SUCCESS) return kUploadErrors.FailSystem(Msg::kHashFailed, dwError);
    pForm->SetFacts(std::move(facts));
    if (iRefused == UINT32_MAX) return S_OK;
    const FormPart& part = pForm->Parts().Part(iRefused);
    return TypeRefused(pForm->Text(part.fileNameOffset), part.fileNameLength, part.flags,
                       pForm->Facts(iRefused)->pszDetectedType);
}

HRESULT FormLoader::FactsFailure(const FactsSink& facts) {
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

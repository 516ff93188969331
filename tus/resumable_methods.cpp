#include "tus/resumable_methods.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "platform/bstr_text.h"
#include "platform/error_info.h"
#include "platform/messages.h"
#include "platform/module_object.h"
#include "platform/sweep_schedule.h"
#include "resumable/metadata_header.h"
#include "resumable/metadata_text.h"
#include "resumable/tus_exchange.h"
#include "tus/chunk_hasher.h"
#include "tus/page_objects.h"
#include "tus/tus_messages.h"
#include "tus/upload_store.h"
#include "uploadedfile/store_file.h"

namespace {

// Handle sweeps a store now and then, not on every request.
SweepSchedule g_sweeps;

constexpr ErrorSource kErrors(CLSID_Resumable, IID_IResumable);

std::int64_t UnixNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const std::uint64_t n = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    return static_cast<std::int64_t>(n / 10000000u) - 11644473600ll;
}

BSTR AsciiBstr(const char* psz) {
    const std::size_t cch = std::strlen(psz);
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
    if (bstr)
        for (std::size_t i = 0; i < cch; ++i) bstr[i] = static_cast<unsigned char>(psz[i]);
    return bstr;
}

bool HasMember(IDispatch* pObject, const wchar_t* pszName) {
    LPOLESTR pszNames[1] = {const_cast<LPOLESTR>(pszName)};
    DISPID dispid;
    return SUCCEEDED(pObject->GetIDsOfNames(IID_NULL, pszNames, 1, LOCALE_USER_DEFAULT, &dispid));
}

// The store and the exchange, from the module heap for one request.
struct Workspace {
    FileStore* pStore = ModuleNew<FileStore>();
    resumable::TusExchange* pExchange = static_cast<resumable::TusExchange*>(ModuleAlloc(sizeof(resumable::TusExchange)));
    ~Workspace() {
        ModuleDelete(pStore);
        ModuleFree(pExchange);
    }
    Workspace() = default;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    explicit operator bool() const { return pStore && pExchange; }
};

// The request's variables the exchange reads, in TusRequest's order.
struct Variable {
    const wchar_t* pszName;
    resumable::HeaderBytes resumable::TusRequest::*pField;
};
const Variable kVariables[] = {
    {L"REQUEST_METHOD", &resumable::TusRequest::method},
    {L"HTTP_X_HTTP_METHOD_OVERRIDE", &resumable::TusRequest::methodOverride},
    {L"HTTP_TUS_RESUMABLE", &resumable::TusRequest::tusResumable},
    {L"HTTP_UPLOAD_OFFSET", &resumable::TusRequest::uploadOffset},
    {L"HTTP_UPLOAD_LENGTH", &resumable::TusRequest::uploadLength},
    {L"HTTP_UPLOAD_DEFER_LENGTH", &resumable::TusRequest::uploadDeferLength},
    {L"HTTP_UPLOAD_METADATA", &resumable::TusRequest::uploadMetadata},
    {L"HTTP_UPLOAD_CHECKSUM", &resumable::TusRequest::uploadChecksum},
    {L"HTTP_UPLOAD_CONCAT", &resumable::TusRequest::uploadConcat},
    {L"CONTENT_TYPE", &resumable::TusRequest::contentType},
    {L"CONTENT_LENGTH", &resumable::TusRequest::contentLength},
};
constexpr std::size_t kVariableCount = sizeof kVariables / sizeof kVariables[0];

}  // namespace

STDMETHODIMP ResumableMethods::get_Folder(BSTR* pbstrFolder) {
    if (!pbstrFolder) return E_POINTER;
    *pbstrFolder = m_folder ? CopyBstr(m_folder.get()) : SysAllocString(L"");
    return *pbstrFolder ? S_OK : kErrors.NoMemory();
}

STDMETHODIMP ResumableMethods::put_Folder(BSTR bstrFolder) {
    // The system would stop reading the folder there and keep uploads elsewhere.
    if (HasEmbeddedZero(bstrFolder)) return kErrors.Fail(E_INVALIDARG, Msg::kPathHasZero);
    if (!bstrFolder || !bstrFolder[0]) {
        m_folder.reset();
        return S_OK;
    }
    BSTR bstrCopy = CopyBstr(bstrFolder);
    if (!bstrCopy) return kErrors.NoMemory();
    m_folder.reset(bstrCopy);
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_MaxSize(double* pdblMax) {
    if (!pdblMax) return E_POINTER;
    *pdblMax = m_dblMaxSize;
    return S_OK;
}

STDMETHODIMP ResumableMethods::put_MaxSize(double dblMax) {
    if (!(dblMax >= 0)) return kErrors.FailText(E_INVALIDARG, Msg::kBadLimit, L"MaxSize");
    // A fraction would be cut to whole bytes without a word: 0.5 would mean no limit.
    if (dblMax != std::floor(dblMax)) return kErrors.FailText(E_INVALIDARG, Msg::kLimitNotWhole, L"MaxSize");
    m_dblMaxSize = dblMax;
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_Expires(LONG* plMinutes) {
    if (!plMinutes) return E_POINTER;
    *plMinutes = m_lExpires;
    return S_OK;
}

STDMETHODIMP ResumableMethods::put_Expires(LONG lMinutes) {
    if (lMinutes < 0) return kErrors.Fail(E_INVALIDARG, TusMsg::kBadExpires);
    m_lExpires = lMinutes;
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_ChecksumAlgorithms(BSTR* pbstrAlgorithms) {
    if (!pbstrAlgorithms) return E_POINTER;
    *pbstrAlgorithms = AsciiBstr(resumable::kszChecksumAlgorithms);
    return *pbstrAlgorithms ? S_OK : kErrors.NoMemory();
}

ResumableMethods::~ResumableMethods() { Forget(); }

void ResumableMethods::Forget() {
    if (m_pFile) {
        m_pFile->Release();
        m_pFile = nullptr;
    }
    m_lStatus = 0;
    m_bUpload = false;
    m_szId[0] = '\0';
    m_cbOffset = m_cbLength = 0;
    m_bDeferred = false;
    m_metadata.reset();
    m_cbMetadata = 0;
}

bool ResumableMethods::Note(const char* pszId, std::uint64_t cbOffset, std::uint64_t cbLength, bool bDeferred,
                            const unsigned char* pbMetadata, std::uint32_t cbMetadata) {
    ModuleBlock metadata(ModuleAlloc(cbMetadata ? cbMetadata : 1));
    if (!metadata) return false;
    if (cbMetadata) std::memcpy(metadata.get(), pbMetadata, cbMetadata);
    m_metadata = std::move(metadata);
    m_cbMetadata = cbMetadata;
    std::memcpy(m_szId, pszId, resumable::kcchUploadId);
    m_szId[resumable::kcchUploadId] = '\0';
    m_cbOffset = cbOffset;
    m_cbLength = cbLength;
    m_bDeferred = bDeferred;
    m_bUpload = true;
    return true;
}

HRESULT ResumableMethods::FolderReady() {
    if (!m_folder) return kErrors.Fail(E_INVALIDARG, TusMsg::kNoFolder);
    const DWORD dwAttributes = GetFileAttributesW(m_folder.get());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return kErrors.FailText(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), TusMsg::kFolderMissing, m_folder.get());
    return S_OK;
}

STDMETHODIMP ResumableMethods::Handle(IDispatch* pRequest, IDispatch* pResponse) {
    Forget();
    PageRequest request(pRequest);
    if (!request.Ready()) return kErrors.Fail(E_INVALIDARG, TusMsg::kNotRequest);
    if (!pResponse || !HasMember(pResponse, L"Status") || !HasMember(pResponse, L"AddHeader"))
        return kErrors.Fail(E_INVALIDARG, TusMsg::kNotResponse);
    HRESULT hr = FolderReady();
    if (FAILED(hr)) return hr;

    resumable::TusRequest tus;
    VariableBytes values[kVariableCount];
    for (std::size_t i = 0; i < kVariableCount; ++i) {
        hr = request.Variable(kVariables[i].pszName, &values[i]);
        if (hr == E_OUTOFMEMORY) return kErrors.NoMemory();
        if (FAILED(hr)) return kErrors.FailText(hr, TusMsg::kVariableFailed, kVariables[i].pszName);
        tus.*kVariables[i].pField = values[i].Header();
    }
    VariableBytes query;
    hr = request.Variable(L"QUERY_STRING", &query);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? kErrors.NoMemory() : kErrors.FailText(hr, TusMsg::kVariableFailed, L"QUERY_STRING");
    tus.id = QueryId(query.Header().pb, query.cb);
    // Only a creation needs the upload URL.
    ModuleBlock location;
    std::uint32_t cbLocation = 0;
    if (tus.method.cb == 4 && std::memcmp(tus.method.pb, "POST", 4) == 0) {
        hr = PageLocation(request, query, &location, &cbLocation);
        if (hr == E_OUTOFMEMORY) return kErrors.NoMemory();
        if (FAILED(hr)) return kErrors.FailText(hr, TusMsg::kVariableFailed, L"URL");
        tus.location = {location.as<unsigned char>(), cbLocation};
    }

    Workspace work;
    if (!work || !work.pStore->SetFolder(m_folder.get(), SysStringLen(m_folder.get()))) return kErrors.NoMemory();
    resumable::TusSettings settings;
    settings.cbMaxSize = static_cast<std::uint64_t>(m_dblMaxSize < 9007199254740991.0 ? m_dblMaxSize : 9007199254740991.0);
    settings.tNow = UnixNow();
    settings.secondsKept = std::int64_t{m_lExpires} * 60;
    if (g_sweeps.Due(m_folder.get(), SysStringLen(m_folder.get()))) work.pStore->Sweep(settings.tNow, 24 * 60 * 60);
    CngChunkHasher hasher;
    resumable::AnswerTusRequest(tus, settings, *work.pStore, request, hasher, work.pExchange);
    const resumable::TusExchange& exchange = *work.pExchange;
    m_lStatus = exchange.nStatus;
    if (exchange.bUpload && !Note(exchange.szId, exchange.cbOffset, exchange.cbLength, exchange.bLengthDeferred,
                                  exchange.abMetadata, exchange.cbMetadata))
        return kErrors.NoMemory();
    hr = WriteAnswer(pResponse, exchange);
    if (FAILED(hr)) return kErrors.Fail(hr, TusMsg::kResponseFailed, static_cast<long>(hr));
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_Status(LONG* plStatus) {
    if (!plStatus) return E_POINTER;
    *plStatus = m_lStatus;
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_Id(BSTR* pbstrId) {
    if (!pbstrId) return E_POINTER;
    *pbstrId = AsciiBstr(m_bUpload ? m_szId : "");
    return *pbstrId ? S_OK : kErrors.NoMemory();
}

STDMETHODIMP ResumableMethods::get_Offset(double* pdblOffset) {
    if (!pdblOffset) return E_POINTER;
    *pdblOffset = static_cast<double>(m_cbOffset);
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_Length(double* pdblLength) {
    if (!pdblLength) return E_POINTER;
    *pdblLength = m_bUpload && m_bDeferred ? -1.0 : static_cast<double>(m_cbLength);
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_Complete(VARIANT_BOOL* pbComplete) {
    if (!pbComplete) return E_POINTER;
    *pbComplete = m_bUpload && !m_bDeferred && m_cbOffset == m_cbLength ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_Metadata(BSTR bstrKey, BSTR* pbstrValue) {
    if (!pbstrValue) return E_POINTER;
    *pbstrValue = nullptr;
    if (!bstrKey) return kErrors.Fail(E_INVALIDARG, Msg::kItemNameNull);
    ModuleBlock room(ModuleAlloc(sizeof(resumable::UploadMetadata)));
    if (!room) return kErrors.NoMemory();
    auto* pMeta = room.as<resumable::UploadMetadata>();
    const resumable::MetadataPair* pPair = nullptr;
    if (m_bUpload && resumable::ReadUploadMetadata(m_metadata.as<unsigned char>(), m_cbMetadata, pMeta) ==
                         resumable::MetadataStatus::kOk) {
        // A key is ASCII: any other character names no key.
        const UINT cchKey = SysStringLen(bstrKey);
        unsigned char abKey[resumable::kcbMaxMetadataHeader];
        bool bAscii = cchKey <= sizeof abKey;
        for (UINT i = 0; bAscii && i < cchKey; ++i) {
            bAscii = bstrKey[i] > 0 && bstrKey[i] < 0x80;
            abKey[i] = static_cast<unsigned char>(bstrKey[i]);
        }
        if (bAscii) pPair = resumable::FindMetadata(*pMeta, abKey, cchKey);
    }
    if (!pPair) {
        *pbstrValue = SysAllocString(L"");
    } else {
        const std::size_t cch = resumable::DecodeMetadataText(pMeta->Value(*pPair), pPair->cbValue, nullptr, 0);
        *pbstrValue = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
        if (*pbstrValue)
            resumable::DecodeMetadataText(pMeta->Value(*pPair), pPair->cbValue,
                                          reinterpret_cast<char16_t*>(*pbstrValue), cch);
    }
    return *pbstrValue ? S_OK : kErrors.NoMemory();
}

HRESULT ResumableMethods::TakeFile(IDispatch** ppFile) {
    if (m_pFile) {
        m_pFile->AddRef();
        *ppFile = m_pFile;
        return S_OK;
    }
    Workspace work;
    if (!work || !work.pStore->SetFolder(m_folder.get(), SysStringLen(m_folder.get()))) return kErrors.NoMemory();
    FileStore& store = *work.pStore;
    // Read under the lock, so no writer is at work on it; the lock goes
    // before the file is taken over, which shares no writing.
    resumable::UploadRecord rec;
    const resumable::StoreResult opened = store.Open(m_szId, &rec);
    store.Close();
    wchar_t szId[resumable::kcchUploadId + 1];
    for (std::size_t i = 0; i <= resumable::kcchUploadId; ++i) szId[i] = static_cast<unsigned char>(m_szId[i]);
    switch (opened) {
    case resumable::StoreResult::kOk: break;
    case resumable::StoreResult::kNotFound: return kErrors.FailText(E_FAIL, TusMsg::kUnknownUpload, szId);
    case resumable::StoreResult::kLocked: return kErrors.Fail(E_FAIL, TusMsg::kUploadBusy);
    default: return kErrors.FailSystem(TusMsg::kStoreFailed, store.LastError());
    }
    if (!Note(m_szId, rec.cbOffset, rec.cbLength, (rec.flags & resumable::kRecordLengthDeferred) != 0,
              rec.pbMetadata, rec.cbMetadata))
        return kErrors.NoMemory();
    if (m_bDeferred || m_cbOffset != m_cbLength) return kErrors.Fail(E_FAIL, TusMsg::kNotComplete);
    UniqueBstr nameKey(SysAllocString(L"filename")), typeKey(SysAllocString(L"filetype"));
    if (!nameKey || !typeKey) return kErrors.NoMemory();
    BSTR bstrName = nullptr, bstrType = nullptr;
    HRESULT hr = get_Metadata(nameKey.get(), &bstrName);
    UniqueBstr fileName(bstrName);
    if (SUCCEEDED(hr)) hr = get_Metadata(typeKey.get(), &bstrType);
    UniqueBstr fileType(bstrType);
    if (FAILED(hr)) return hr;
    UploadedFileSource* pSource = nullptr;
    const DWORD dwTaken = TakeOverStoreFile(store.PathOf(m_szId, L".bin"), UniqueFileHandle(), fileName.get(),
                                            fileType.get(), m_cbLength, &pSource);
    if (dwTaken == ERROR_FILE_NOT_FOUND) return kErrors.FailText(E_FAIL, TusMsg::kUnknownUpload, szId);
    if (dwTaken == ERROR_SHARING_VIOLATION) return kErrors.Fail(E_FAIL, TusMsg::kUploadBusy);
    if (dwTaken != ERROR_SUCCESS) return kErrors.FailSystem(TusMsg::kStoreFileOpen, dwTaken);
    hr = m_pfnCreateFile(pSource, 0, 0, &m_pFile);
    pSource->Release();
    if (FAILED(hr)) {
        m_pFile = nullptr;
        return hr == E_OUTOFMEMORY ? kErrors.NoMemory() : hr;
    }
    m_pFile->AddRef();
    *ppFile = m_pFile;
    return S_OK;
}

STDMETHODIMP ResumableMethods::get_File(IDispatch** ppFile) {
    if (!ppFile) return E_POINTER;
    *ppFile = nullptr;
    if (!m_bUpload) return kErrors.Fail(E_FAIL, TusMsg::kNoUpload);
    if (m_bDeferred || m_cbOffset != m_cbLength) return kErrors.Fail(E_FAIL, TusMsg::kNotComplete);
    const HRESULT hr = FolderReady();
    if (FAILED(hr)) return hr;
    return TakeFile(ppFile);
}

STDMETHODIMP ResumableMethods::Open(BSTR bstrIdOrUrl, IDispatch** ppFile) {
    if (!ppFile) return E_POINTER;
    *ppFile = nullptr;
    Forget();
    const HRESULT hr = FolderReady();
    if (FAILED(hr)) return hr;
    // An id alone, or a URL (or query) naming one in its query: taken only
    // in the spelling this store makes, never as a path.
    const UINT cch = SysStringLen(bstrIdOrUrl);
    ModuleBlock bytes(ModuleAlloc(cch ? cch : 1));
    if (!bytes) return kErrors.NoMemory();
    unsigned char* pb = bytes.as<unsigned char>();
    for (UINT i = 0; i < cch; ++i) pb[i] = bstrIdOrUrl[i] < 0x80 ? static_cast<unsigned char>(bstrIdOrUrl[i]) : 0x7F;
    resumable::HeaderBytes id{pb, cch};
    if (!resumable::UploadIdValid(reinterpret_cast<const char*>(pb), cch)) id = QueryId(pb, cch);
    if (!resumable::UploadIdValid(reinterpret_cast<const char*>(id.pb), id.cb))
        return kErrors.FailText(E_INVALIDARG, TusMsg::kUnknownUpload, bstrIdOrUrl ? bstrIdOrUrl : L"");
    std::memcpy(m_szId, id.pb, resumable::kcchUploadId);
    m_szId[resumable::kcchUploadId] = '\0';
    const HRESULT hrTaken = TakeFile(ppFile);
    if (FAILED(hrTaken)) Forget();
    return hrTaken;
}

STDMETHODIMP ResumableMethods::Sweep(LONG* plRemoved) {
    if (!plRemoved) return E_POINTER;
    *plRemoved = 0;
    const HRESULT hr = FolderReady();
    if (FAILED(hr)) return hr;
    FileStore* pStore = ModuleNew<FileStore>();
    if (!pStore) return kErrors.NoMemory();
    if (pStore->SetFolder(m_folder.get(), SysStringLen(m_folder.get())))
        *plRemoved = pStore->Sweep(UnixNow(), 24 * 60 * 60);
    else {
        ModuleDelete(pStore);
        return kErrors.NoMemory();
    }
    ModuleDelete(pStore);
    return S_OK;
}

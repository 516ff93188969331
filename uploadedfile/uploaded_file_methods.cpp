#include "uploadedfile/uploaded_file_methods.h"

#include <cwchar>

#include "platform/bstr_text.h"
#include "platform/hresult_checks.h"
#include "platform/safe_array.h"
#include "platform/win32_owners.h"
#include "uploadedfile/file_errors.h"
#include "uploadedfile/save_file.h"

namespace {
// Offset just past the last '\' or '/', 0 when there is none.
UINT BaseNameStart(BSTR bstrPath) {
    UINT iStart = 0;
    for (UINT i = 0, cch = SysStringLen(bstrPath); i < cch; ++i)
        if (bstrPath[i] == L'\\' || bstrPath[i] == L'/') iStart = i + 1;
    return iStart;
}
}  // namespace

UploadedFileMethods::UploadedFileMethods(UploadedFileSource* pSource, std::uint32_t iItem, UINT uCodePage)
    : m_pSource(pSource), m_iItem(iItem), m_uCodePage(uCodePage) {
    m_pSource->AddRef();
}

UploadedFileMethods::~UploadedFileMethods() { m_pSource->Release(); }

STDMETHODIMP UploadedFileMethods::get_Name(BSTR* pbstrName) {
    if (!pbstrName) return E_POINTER;
    *pbstrName = m_pSource->FieldName(m_iItem, m_uCodePage);
    return *pbstrName ? S_OK : kFileErrors.NoMemory();
}

HRESULT UploadedFileMethods::SplitFileName(BSTR* pbstrFolder, BSTR* pbstrBase) const {
    UniqueBstr full(m_pSource->ClientFileName(m_iItem, m_uCodePage));
    if (!full) return kFileErrors.NoMemory();
    const UINT iBase = BaseNameStart(full.get());
    const UINT cchFolder = iBase > 0 ? iBase - 1 : 0;
    if (pbstrFolder && !(*pbstrFolder = SysAllocStringLen(full.get(), cchFolder))) return kFileErrors.NoMemory();
    if (pbstrBase && !(*pbstrBase = SysAllocStringLen(full.get() + iBase, SysStringLen(full.get()) - iBase)))
        return kFileErrors.NoMemory();
    return S_OK;
}

STDMETHODIMP UploadedFileMethods::get_FileName(BSTR* pbstrFileName) {
    if (!pbstrFileName) return E_POINTER;
    *pbstrFileName = nullptr;
    return SplitFileName(nullptr, pbstrFileName);
}

STDMETHODIMP UploadedFileMethods::get_ClientPath(BSTR* pbstrClientPath) {
    if (!pbstrClientPath) return E_POINTER;
    *pbstrClientPath = nullptr;
    return SplitFileName(pbstrClientPath, nullptr);
}

STDMETHODIMP UploadedFileMethods::get_Extension(BSTR* pbstrExtension) {
    if (!pbstrExtension) return E_POINTER;
    *pbstrExtension = nullptr;
    UniqueBstr base;
    RETURN_IF_FAILED(SplitFileName(nullptr, base.put()));
    const wchar_t* pszDot = wcsrchr(base.get(), L'.');
    const wchar_t* pszExtension = pszDot ? pszDot + 1 : L"";
    *pbstrExtension = SysAllocString(pszExtension);
    if (!*pbstrExtension) return kFileErrors.NoMemory();
    CharLowerBuffW(*pbstrExtension, SysStringLen(*pbstrExtension));
    return S_OK;
}

STDMETHODIMP UploadedFileMethods::get_ContentType(BSTR* pbstrContentType) {
    if (!pbstrContentType) return E_POINTER;
    *pbstrContentType = m_pSource->ContentType(m_iItem, m_uCodePage);
    return *pbstrContentType ? S_OK : kFileErrors.NoMemory();
}

STDMETHODIMP UploadedFileMethods::get_Size(double* pdblSize) {
    if (!pdblSize) return E_POINTER;
    *pdblSize = static_cast<double>(m_pSource->Size(m_iItem));
    return S_OK;
}

STDMETHODIMP UploadedFileMethods::get_Bytes(VARIANT* pvarBytes) {
    if (!pvarBytes) return E_POINTER;
    VariantInit(pvarBytes);
    // A safe array counts its elements in a ULONG.
    const std::uint64_t cb = m_pSource->Size(m_iItem);
    if (cb > 0xFFFFFFFFu) return kFileErrors.NoMemory();
    UniqueSafeArray bytes(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(cb)));
    SafeArrayAccess access;
    if (!bytes || !access.Lock(bytes.get())) return kFileErrors.NoMemory();
    const DWORD dwError = m_pSource->ReadValue(m_iItem, access.data<unsigned char>());
    access.Unlock();
    if (dwError != ERROR_SUCCESS) return ReadFailure(Msg::kTempFileRead, dwError);
    MoveArrayTo(bytes, VT_UI1, pvarBytes);
    return S_OK;
}

// Overwrite absent (or Empty) is False: a file there is never replaced
// unless the page says so.
STDMETHODIMP UploadedFileMethods::SaveAs(BSTR bstrPath, VARIANT varOverwrite) {
    const VARIANT* pvar = &varOverwrite;
    if (pvar->vt == (VT_BYREF | VT_VARIANT) && pvar->pvarVal) pvar = pvar->pvarVal;
    if (pvar->vt == VT_ERROR || pvar->vt == VT_EMPTY) return Save(bstrPath, false);
    VARIANT varBool;
    VariantInit(&varBool);
    if (FAILED(VariantChangeType(&varBool, const_cast<VARIANT*>(pvar), 0, VT_BOOL)))
        return kFileErrors.Fail(E_INVALIDARG, Msg::kBadOverwrite);
    return Save(bstrPath, varBool.boolVal != VARIANT_FALSE);
}

HRESULT UploadedFileMethods::ReadFailure(const wchar_t* pszMessage, DWORD dwError) {
    if (dwError == kErrorSavedFileChanged) return kFileErrors.Fail(Refusal::kSavedFileChanged, Msg::kSavedFileChanged);
    return kFileErrors.FailSystem(pszMessage, dwError);
}

HRESULT UploadedFileMethods::Save(BSTR bstrPath, bool bReplace) {
    if (!bstrPath || !bstrPath[0]) return kFileErrors.Fail(E_INVALIDARG, Msg::kFileNameNull);
    // The system would stop reading the path there and save under its start.
    if (HasEmbeddedZero(bstrPath)) return kFileErrors.Fail(Refusal::kPathHasZero, Msg::kPathHasZero);
    const DWORD dwError = m_pSource->SaveValue(m_iItem, bstrPath, bReplace);
    switch (dwError) {
    case ERROR_SUCCESS:
        return S_OK;
    case kErrorSaveTargetDevice:
        return kFileErrors.Fail(Refusal::kSaveToDevice, Msg::kSaveToDevice);
    case kErrorSaveTargetStream:
        return kFileErrors.Fail(Refusal::kSaveToStream, Msg::kSaveToStream);
    default:
        return ReadFailure(Msg::kSaveFailed, dwError);
    }
}

STDMETHODIMP UploadedFileMethods::SaveUnique(BSTR bstrFolder, BSTR* pbstrPath) {
    if (!pbstrPath) return E_POINTER;
    *pbstrPath = nullptr;
    if (!bstrFolder || !bstrFolder[0]) return kFileErrors.Fail(E_INVALIDARG, Msg::kPathNameNull);
    if (HasEmbeddedZero(bstrFolder)) return kFileErrors.Fail(Refusal::kPathHasZero, Msg::kPathHasZero);
    UniqueBstr extension;
    RETURN_IF_FAILED(get_Extension(extension.put()));
    UniqueBstr exact(
        ServerMadePath(bstrFolder, SysStringLen(bstrFolder), L"", HarmlessExtension(extension.get())));
    if (!exact) return kFileErrors.NoMemory();
    RETURN_IF_FAILED(Save(exact.get(), false));
    *pbstrPath = exact.release();
    return S_OK;
}

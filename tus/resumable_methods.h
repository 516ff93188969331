// IResumable's methods: the store's settings, one tus request answered for
// the page, and what the page learns of the upload afterwards. The object
// that carries them (identity, reference counting, dispatch) derives from
// this class.
#pragma once
#include <cstdint>

#include "platform/module_heap.h"
#include "platform/win32_owners.h"
#include "resumable/upload_id.h"
#include "resumable/upload_record.h"
#include "tus/resumable_interface.h"
#include "uploadedfile/uploaded_file_methods.h"

class ResumableMethods : public IResumable {
public:
    explicit ResumableMethods(PFNCREATEFILEOBJECT pfnCreateFile) : m_pfnCreateFile(pfnCreateFile) {}
    virtual ~ResumableMethods();
    ResumableMethods(const ResumableMethods&) = delete;
    ResumableMethods& operator=(const ResumableMethods&) = delete;

    STDMETHODIMP get_Folder(BSTR* pbstrFolder) override;
    STDMETHODIMP put_Folder(BSTR bstrFolder) override;
    STDMETHODIMP get_MaxSize(double* pdblMax) override;
    STDMETHODIMP put_MaxSize(double dblMax) override;
    STDMETHODIMP get_Expires(LONG* plMinutes) override;
    STDMETHODIMP put_Expires(LONG lMinutes) override;
    STDMETHODIMP get_ChecksumAlgorithms(BSTR* pbstrAlgorithms) override;
    STDMETHODIMP Handle(IDispatch* pRequest, IDispatch* pResponse) override;
    STDMETHODIMP get_Status(LONG* plStatus) override;
    STDMETHODIMP get_Id(BSTR* pbstrId) override;
    STDMETHODIMP get_Offset(double* pdblOffset) override;
    STDMETHODIMP get_Length(double* pdblLength) override;
    STDMETHODIMP get_Complete(VARIANT_BOOL* pbComplete) override;
    STDMETHODIMP get_Metadata(BSTR bstrKey, BSTR* pbstrValue) override;
    STDMETHODIMP get_File(IDispatch** ppFile) override;
    STDMETHODIMP Open(BSTR bstrIdOrUrl, IDispatch** ppFile) override;
    STDMETHODIMP Sweep(LONG* plRemoved) override;

private:
    // The folder is set and there; S_OK or the failure published.
    HRESULT FolderReady();
    void Forget();
    // The file object of the completed upload m_szId, made once: it holds
    // the store's file against other takers.
    HRESULT TakeFile(IDispatch** ppFile);
    // What the page learns of an upload; false without memory.
    bool Note(const char* pszId, std::uint64_t cbOffset, std::uint64_t cbLength, bool bDeferred,
              const unsigned char* pbMetadata, std::uint32_t cbMetadata);

    PFNCREATEFILEOBJECT m_pfnCreateFile;
    IDispatch* m_pFile = nullptr;
    UniqueBstr m_folder;
    double m_dblMaxSize = 0;
    long m_lExpires = 24 * 60;

    long m_lStatus = 0;
    bool m_bUpload = false;
    char m_szId[resumable::kcchUploadId + 1] = {};
    std::uint64_t m_cbOffset = 0, m_cbLength = 0;
    bool m_bDeferred = false;
    ModuleBlock m_metadata;  // Upload-Metadata's text as sent
    std::uint32_t m_cbMetadata = 0;
};

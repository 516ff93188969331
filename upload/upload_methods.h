// IUpload's methods: the loaded form, the code page its texts are read in,
// and the limit on its parts. The object that carries them (identity,
// reference counting, dispatch) derives from this class.
#pragma once
#include <cstdint>

#include "platform/win32_owners.h"
#include "upload/loaded_form.h"
#include "upload/name_index.h"
#include "upload/part_facts.h"
#include "upload/upload_interface.h"
#include "uploadedfile/uploaded_file_methods.h"

class UploadProgress;

class UploadMethods : public IUpload {
public:
    explicit UploadMethods(PFNCREATEFILEOBJECT pfnCreateFile) : m_pfnCreateFile(pfnCreateFile) {}
    virtual ~UploadMethods();
    UploadMethods(const UploadMethods&) = delete;
    UploadMethods& operator=(const UploadMethods&) = delete;

    STDMETHODIMP get_CodePage(LONG* plCodePage) override;
    STDMETHODIMP put_CodePage(LONG lCodePage) override;
    STDMETHODIMP get_MaxParts(LONG* plMaxParts) override;
    STDMETHODIMP put_MaxParts(LONG lMaxParts) override;
    STDMETHODIMP Load(VARIANT* pvarBody) override;
    STDMETHODIMP get_Count(LONG* plCount) override;
    STDMETHODIMP get_Names(VARIANT* pvarNames) override;
    STDMETHODIMP Exists(BSTR bstrName, VARIANT_BOOL* pbExists) override;
    STDMETHODIMP get_Item(BSTR bstrName, VARIANT* pvarValue) override;
    STDMETHODIMP Values(BSTR bstrName, VARIANT* pvarValues) override;
    STDMETHODIMP get_Files(VARIANT* pvarFiles) override;
    STDMETHODIMP File(BSTR bstrName, IDispatch** ppFile) override;
    // Reading the request in pieces (upload_request_methods.cpp).
    STDMETHODIMP LoadRequest(IDispatch* pRequest) override;
    STDMETHODIMP get_TempFolder(BSTR* pbstrFolder) override;
    STDMETHODIMP put_TempFolder(BSTR bstrFolder) override;
    STDMETHODIMP get_MaxBytes(double* pdblMax) override;
    STDMETHODIMP put_MaxBytes(double dblMax) override;
    STDMETHODIMP get_MaxFileBytes(double* pdblMax) override;
    STDMETHODIMP put_MaxFileBytes(double dblMax) override;
    STDMETHODIMP get_MaxFieldBytes(double* pdblMax) override;
    STDMETHODIMP put_MaxFieldBytes(double dblMax) override;
    // What is learnt of each file while a form loads (upload_facts_methods.cpp).
    STDMETHODIMP get_HashWhileLoading(BSTR* pbstrAlgorithm) override;
    STDMETHODIMP put_HashWhileLoading(BSTR bstrAlgorithm) override;
    STDMETHODIMP get_AllowedTypes(BSTR* pbstrTypes) override;
    STDMETHODIMP put_AllowedTypes(BSTR bstrTypes) override;
    // The id a load's progress is kept under (upload_progress.cpp).
    STDMETHODIMP get_ProgressID(BSTR* pbstrId) override;
    STDMETHODIMP put_ProgressID(BSTR bstrId) override;

private:
    // Load and LoadRequest themselves; the public members wrap them in the
    // progress record, which learns how they ended from their result.
    HRESULT LoadBytes(VARIANT* pvarBody, UploadProgress* pProgress);
    HRESULT ReadRequest(IDispatch* pRequest, UploadProgress* pProgress);
    // The parts' names in the current code page, read once per form and code
    // page; false without memory.
    bool NamesReady();
    // What every member that looks a name up checks first: the name is
    // given, and the names are ready. S_OK, or the failure published.
    HRESULT ReadyToLookUp(BSTR bstrName);
    // Puts a newly loaded form in the place of the one before.
    void Replace(LoadedForm* pForm);
    // A text property's new value, kept as a copy; an empty one clears it.
    static HRESULT KeepText(BSTR bstrText, UniqueBstr* pKept);
    // A form held in memory gets its files' facts; refused when one of its
    // files is of a type the page does not take.
    HRESULT AddFacts(LoadedForm* pForm);
    // Why a FactsSink stopped a stream.
    HRESULT FactsFailure(const FactsSink& facts);
    HRESULT TypeRefused(const char* pchName, std::uint32_t cchName, std::uint32_t flags, const char* pszType);

    PFNCREATEFILEOBJECT m_pfnCreateFile;
    long m_lCodePage = 0;
    long m_lMaxParts = 1000;
    UniqueBstr m_tempFolder;  // null: the system's temporary folder
    double m_dblMaxBytes = 0, m_dblMaxFileBytes = 0, m_dblMaxFieldBytes = 1 << 20;
    HashAlgorithm m_hashWhileLoading = HashAlgorithm::kNone;
    UniqueBstr m_allowedTypes;  // null: every type
    UniqueBstr m_progressId;    // null: no progress kept
    LoadedForm* m_pForm = nullptr;
    NameIndex m_names;
};

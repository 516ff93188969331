// IUpload's methods: the loaded form and the code page its texts are read
// in, the settings a load follows, and the loads themselves, which the
// loader (form_loader.h) does. The object that carries them (identity,
// reference counting, dispatch) derives from this class.
#pragma once
#include <cstdint>

#include "upload/load_settings.h"
#include "upload/loaded_form.h"
#include "upload/name_index.h"
#include "upload/upload_interface.h"
#include "uploadedfile/uploaded_file_methods.h"

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
    STDMETHODIMP LoadRequest(IDispatch* pRequest) override;
    // The settings a load follows (upload_settings_methods.cpp).
    STDMETHODIMP get_TempFolder(BSTR* pbstrFolder) override;
    STDMETHODIMP put_TempFolder(BSTR bstrFolder) override;
    STDMETHODIMP get_MaxBytes(double* pdblMax) override;
    STDMETHODIMP put_MaxBytes(double dblMax) override;
    STDMETHODIMP get_MaxFileBytes(double* pdblMax) override;
    STDMETHODIMP put_MaxFileBytes(double dblMax) override;
    STDMETHODIMP get_MaxFieldBytes(double* pdblMax) override;
    STDMETHODIMP put_MaxFieldBytes(double dblMax) override;
    STDMETHODIMP get_HashWhileLoading(BSTR* pbstrAlgorithm) override;
    STDMETHODIMP put_HashWhileLoading(BSTR bstrAlgorithm) override;
    STDMETHODIMP get_AllowedTypes(BSTR* pbstrTypes) override;
    STDMETHODIMP put_AllowedTypes(BSTR bstrTypes) override;
    STDMETHODIMP get_ProgressID(BSTR* pbstrId) override;
    STDMETHODIMP put_ProgressID(BSTR bstrId) override;

private:
    // The parts' names in the current code page, read once per form and code
    // page; false without memory.
    bool NamesReady();
    // What every member that looks a name up checks first: the name is
    // given, and the names are ready. S_OK, or the failure published.
    HRESULT ReadyToLookUp(BSTR bstrName);
    // Puts a newly loaded form in the place of the one before (a load that
    // fails leaves that one).
    void Replace(LoadedForm* pForm);

    PFNCREATEFILEOBJECT m_pfnCreateFile;
    long m_lCodePage = 0;
    LoadSettings m_settings;
    LoadedForm* m_pForm = nullptr;
    NameIndex m_names;
};

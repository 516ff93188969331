// IUploadedFile's methods: one file part of a loaded form, read in the code
// page the form was read in when the object was made.
#pragma once
#include <cstdint>

#include "upload/loaded_form.h"
#include "upload/upload_interface.h"

class UploadedFileMethods : public IUploadedFile {
public:
    UploadedFileMethods(LoadedForm* pForm, std::uint32_t iPart, UINT uCodePage);
    virtual ~UploadedFileMethods();
    UploadedFileMethods(const UploadedFileMethods&) = delete;
    UploadedFileMethods& operator=(const UploadedFileMethods&) = delete;

    STDMETHODIMP get_Name(BSTR* pbstrName) override;
    STDMETHODIMP get_FileName(BSTR* pbstrFileName) override;
    STDMETHODIMP get_ClientPath(BSTR* pbstrClientPath) override;
    STDMETHODIMP get_Extension(BSTR* pbstrExtension) override;
    STDMETHODIMP get_ContentType(BSTR* pbstrContentType) override;
    STDMETHODIMP get_Size(double* pdblSize) override;
    STDMETHODIMP get_Bytes(VARIANT* pvarBytes) override;
    STDMETHODIMP SaveAs(BSTR bstrPath, VARIANT varOverwrite) override;
    STDMETHODIMP SaveUnique(BSTR bstrFolder, BSTR* pbstrPath) override;
    // What the file is (uploaded_file_facts.cpp).
    STDMETHODIMP Hash(VARIANT varAlgorithm, BSTR* pbstrHash) override;
    STDMETHODIMP get_DetectedType(BSTR* pbstrType) override;
    STDMETHODIMP get_ImageWidth(LONG* plWidth) override;
    STDMETHODIMP get_ImageHeight(LONG* plHeight) override;

private:
    const FormPart& Part() const { return m_pForm->Parts().Part(m_iPart); }
    // The client's file name split at its last '\' or '/': the folder before
    // it, the base name after it.
    HRESULT SplitFileName(BSTR* pbstrFolder, BSTR* pbstrBase) const;
    HRESULT Save(BSTR bstrPath, bool bReplace);
    // A failure to read the file's bytes, published with pszMessage.
    static HRESULT ReadFailure(const wchar_t* pszMessage, DWORD dwError);

    LoadedForm* m_pForm;
    std::uint32_t m_iPart;
    UINT m_uCodePage;
};

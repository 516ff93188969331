// IUploadedFile's methods: one item of a source (a file part of a loaded
// form, a store's file), its texts read in the code page of the moment the
// object was made.
#pragma once
#include <cstdint>

#include "uploadedfile/uploaded_file_interface.h"
#include "uploadedfile/uploaded_file_source.h"

// Makes the UploadedFile object for item iItem of the source, read in
// uCodePage; supplied by the layer that gives objects their identity.
typedef HRESULT (*PFNCREATEFILEOBJECT)(UploadedFileSource* pSource, std::uint32_t iItem, UINT uCodePage,
                                       IDispatch** ppFile);

class UploadedFileMethods : public IUploadedFile {
public:
    UploadedFileMethods(UploadedFileSource* pSource, std::uint32_t iItem, UINT uCodePage);
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
    // The client's file name split at its last '\' or '/': the folder before
    // it, the base name after it.
    HRESULT SplitFileName(BSTR* pbstrFolder, BSTR* pbstrBase) const;
    HRESULT Save(BSTR bstrPath, bool bReplace);
    // A failure to read the file's bytes, published with pszMessage.
    static HRESULT ReadFailure(const wchar_t* pszMessage, DWORD dwError);

    UploadedFileSource* m_pSource;
    std::uint32_t m_iItem;
    UINT m_uCodePage;
};

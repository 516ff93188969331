// The nine IWebMng methods. The object that carries them (identity,
// reference counting, dispatch) derives from this class and supplies the
// IUnknown and IDispatch operations; the methods keep no state.
#pragma once
#include "webmng/webmng_interface.h"

class WebMngMethods : public IWebMng {
public:
    STDMETHODIMP Form(VARIANT* pvarBinaryArray, BSTR bstrItemName, BSTR* pbstrValue) override;
    STDMETHODIMP GetFileInfo(VARIANT* pvarBinaryArray, BSTR bstrItemName, VARIANT* pvarPath, VARIANT* pvarFilename,
                             VARIANT* pvarFileSize, LONG* plResult) override;
    STDMETHODIMP ReadBinary(BSTR bstrFilename, VARIANT* pvarBinaryArray, LONG* plResult) override;
    STDMETHODIMP WriteForm(VARIANT* pvarBinaryArray, BSTR bstrFilename, BSTR bstrItemName, LONG* plResult) override;
    STDMETHODIMP CreateGUID(BSTR* pbstrGUID) override;
    STDMETHODIMP WriteBinary(VARIANT* pvarBinaryArray, BSTR bstrFilename, LONG* plResult) override;
    STDMETHODIMP FormBinary(VARIANT* pvarBinaryArray, BSTR bstrItemName, VARIANT* pvarBinaryValue) override;
    STDMETHODIMP DeleteFile(BSTR bstrFilename, LONG* plResult) override;
    STDMETHODIMP DeleteFileEx(BSTR bstrPath, BSTR bstrFilename, LONG* plResult) override;
};

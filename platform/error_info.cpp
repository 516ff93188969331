#include "platform/error_info.h"

#include "platform/com_ptr.h"

void PublishErrorInfo(REFCLSID rclsid, REFIID riid, const wchar_t* pszDescription) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return;
    ComPtr<IErrorInfo> info;
    if (FAILED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) return;

    LPOLESTR pszProgId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(rclsid, &pszProgId)) && pszProgId) {
        create->SetSource(pszProgId);
        CoTaskMemFree(pszProgId);
    }
    create->SetGUID(riid);
    create->SetDescription(const_cast<LPOLESTR>(pszDescription));
    SetErrorInfo(0, info.get());
}

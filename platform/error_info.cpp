#include "platform/error_info.h"

#include "platform/com_ptr.h"
#include "platform/messages.h"

HRESULT PublishFailure(REFCLSID rclsid, REFIID riid, HRESULT hr, const wchar_t* pszDescription) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return hr;
    ComPtr<IErrorInfo> info;
    if (FAILED(create.As(&info))) return hr;

    LPOLESTR pszProgId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(rclsid, &pszProgId)) && pszProgId) {
        create->SetSource(pszProgId);
        CoTaskMemFree(pszProgId);
    }
    create->SetGUID(riid);
    create->SetDescription(const_cast<LPOLESTR>(pszDescription));
    SetErrorInfo(0, info.get());
    return hr;
}

UniqueBstr ThreadErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return UniqueBstr();
    BSTR bstrDescription = nullptr;
    // A failed call's out-parameter is not the caller's to free.
    if (FAILED(info->GetDescription(&bstrDescription))) bstrDescription = nullptr;
    SetErrorInfo(0, info.get());
    return UniqueBstr(bstrDescription);
}

HRESULT ErrorSource::Fail(HRESULT hr, const wchar_t* pszFormat, long lArgument) const {
    wchar_t szText[512];
    wsprintfW(szText, pszFormat, lArgument);
    return Fail(hr, szText);
}

HRESULT ErrorSource::FailText(HRESULT hr, const wchar_t* pszFormat, const wchar_t* pszFirst,
                              const wchar_t* pszSecond) const {
    wchar_t szText[1024];
    wsprintfW(szText, pszFormat, pszFirst, pszSecond);
    return Fail(hr, szText);
}

HRESULT ErrorSource::FailSystem(const wchar_t* pszMessage, DWORD dwError) const {
    wchar_t szSystem[256] = L"";
    DWORD cch = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0,
                               szSystem, sizeof szSystem / sizeof szSystem[0], nullptr);
    // The system's text ends in a line break; the description is one line.
    while (cch > 0 && (szSystem[cch - 1] == L'\r' || szSystem[cch - 1] == L'\n' || szSystem[cch - 1] == L' '))
        szSystem[--cch] = L'\0';
    wchar_t szText[768];
    if (cch > 0)
        wsprintfW(szText, Msg::kWithSystemText, pszMessage, szSystem, dwError);
    else
        wsprintfW(szText, Msg::kWithSystemCode, pszMessage, dwError);
    return Fail(HRESULT_FROM_WIN32(dwError), szText);
}

HRESULT ErrorSource::NoMemory() const { return Fail(E_OUTOFMEMORY, Msg::kWorkMemory); }

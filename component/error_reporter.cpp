#include "component/error_reporter.h"

#include "component/com_ptr.h"
#include "component/conversions.h"
#include "component/webmng_interface.h"

namespace {
// The messages are code page 932 text; decoding them with the ANSI code page
// would garble every description on a server whose code page is not 932.
const UINT kMessageCodePage = 932;

BSTR DecodeMessage(const char* pszMessage) {
    if (!pszMessage) return nullptr;
    int cch = MultiByteToWideChar(kMessageCodePage, 0, pszMessage, -1, nullptr, 0);
    if (cch <= 0) return nullptr;
    BSTR bstr = SysAllocStringLen(nullptr, cch - 1);
    if (bstr) MultiByteToWideChar(kMessageCodePage, 0, pszMessage, -1, bstr, cch);
    return bstr;
}
}  // namespace

void ErrorReporter(const char* pszMessage) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return;
    ComPtr<IErrorInfo> info;
    if (FAILED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) return;

    LPOLESTR pszProgId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_WebMng, &pszProgId)) && pszProgId) {
        create->SetSource(pszProgId);
        CoTaskMemFree(pszProgId);
    }
    create->SetGUID(IID_IWebMng);
    UniqueBstr description(DecodeMessage(pszMessage));
    create->SetDescription(description.get());
    SetErrorInfo(0, info.get());
}

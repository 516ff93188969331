#include "webmng/error_reporter.h"

#include "platform/com_ptr.h"
#include "platform/multibyte_text.h"
#include "webmng/webmng_interface.h"

namespace {
// The messages are code page 932 text; decoding them with the ANSI code page
// would garble every description on a server whose code page is not 932.
const UINT kMessageCodePage = 932;

}  // namespace

void ReportError(const char* pszMessage) {
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
    UniqueBstr description(MultiByteToBstr(kMessageCodePage, pszMessage, -1));
    create->SetDescription(description.get());
    SetErrorInfo(0, info.get());
}

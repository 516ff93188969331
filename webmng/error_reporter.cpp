#include "webmng/error_reporter.h"

#include "platform/error_info.h"
#include "platform/win32_owners.h"
#include "platform/multibyte_text.h"
#include "webmng/webmng_interface.h"

namespace {
// The messages are code page 932 text; decoding them with the ANSI code page
// would garble every description on a server whose code page is not 932.
const UINT kMessageCodePage = 932;

}  // namespace

void ReportError(const char* pszMessage) {
    UniqueBstr description(MultiByteToBstr(kMessageCodePage, pszMessage, -1));
    PublishFailure(CLSID_WebMng, IID_IWebMng, E_FAIL, description.get());
}

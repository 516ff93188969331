// GetFileInfo and WriteForm: an uploaded file's client name and size, and
// its content saved on the server.
#include "component/webmng_methods.h"

STDMETHODIMP WebMngMethods::GetFileInfo(VARIANT*, BSTR, VARIANT*, VARIANT*, VARIANT*, LONG*) { return E_NOTIMPL; }
STDMETHODIMP WebMngMethods::WriteForm(VARIANT*, BSTR, BSTR, LONG*) { return E_NOTIMPL; }

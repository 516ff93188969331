// Whole-file reads and writes, deletions and GUID strings.
#include "component/webmng_methods.h"

STDMETHODIMP WebMngMethods::ReadBinary(BSTR, VARIANT*, LONG*) { return E_NOTIMPL; }
STDMETHODIMP WebMngMethods::WriteBinary(VARIANT*, BSTR, LONG*) { return E_NOTIMPL; }
STDMETHODIMP WebMngMethods::DeleteFile(BSTR, LONG*) { return E_NOTIMPL; }
STDMETHODIMP WebMngMethods::DeleteFileEx(BSTR, BSTR, LONG*) { return E_NOTIMPL; }
STDMETHODIMP WebMngMethods::CreateGUID(BSTR*) { return E_NOTIMPL; }

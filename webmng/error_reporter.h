#pragma once

// Publishes a stored (code page 932) message as the calling thread's error
// information: source the ProgID of WebMng when registered, GUID the IID of
// IWebMng. When the error object cannot be made nothing is published.
void ReportError(const char* pszMessage);

#include <windows.h>

// Publishes the message and gives E_FAIL: the end of a failed argument check
// or of a failure while no byte array is locked.
inline HRESULT FailWith(const char* pszMessage) {
    ReportError(pszMessage);
    return E_FAIL;
}

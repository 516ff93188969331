// WebMng's failures, published for IWebMng with WebMng's ProgID as source
// (when registered). When the error object cannot be made nothing is
// published.
#pragma once
#include "platform/error_info.h"
#include "platform/messages.h"
#include "webmng/webmng_interface.h"

constexpr ErrorSource kWebMngErrors(CLSID_WebMng, IID_IWebMng);

// Publishes the message: a failure of the work while the body is locked,
// which the method's status does not carry.
inline void ReportError(const wchar_t* pszMessage) { kWebMngErrors.Fail(E_FAIL, pszMessage); }

// Publishes the message and gives E_FAIL: the end of a failed argument check
// or of a failure while no byte array is locked.
inline HRESULT FailWith(const wchar_t* pszMessage) { return kWebMngErrors.Fail(E_FAIL, pszMessage); }

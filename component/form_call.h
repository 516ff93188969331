// Steps shared by the methods that scan or write a locked request body.
#pragma once
#include <climits>

#include "component/byte_array_arg.h"
#include "component/conversions.h"
#include "component/error_reporter.h"
#include "component/messages.h"
#include "formscan/form_scan.h"

// Locks the body, publishing "システムエラー" when it cannot be locked. The
// methods take the array from the argument before they write their outputs:
// a caller may pass one variable as both (GetFileInfo body, "x", body, ...),
// and the output written first must not leave the body without its array.
inline bool LockBody(LockedByteArray& body, SAFEARRAY* psaBody) {
    if (body.Lock(psaBody)) return true;
    ErrorReporter(Msg::kSystemError);
    return false;
}

// Runs the scan over the locked body into the call's own record.
// A name with a zero character inside names no part: cut there it would
// name another.
inline std::int32_t ScanBody(const LockedByteArray& body, BSTR bstrItemName, FormScan& scan, int bTextOnly) {
    if (HasEmbeddedZero(bstrItemName)) return kScanNotFound;
    std::int32_t cbBody = body.size() > static_cast<ULONG>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(body.size());
    return ScanForm(body.data(), cbBody, reinterpret_cast<const char16_t*>(bstrItemName), &scan, bTextOnly);
}

// Not found is no error; any other non-positive result is.
inline void ReportScanFailure(std::int32_t lResult) {
    if (lResult != kScanNotFound) ErrorReporter(Msg::kException);
}

// Ends a method that holds the lock: its work's failures were published and
// the status is the unlock's; only a failed unlock gives E_FAIL.
inline HRESULT FinishLocked(LockedByteArray& body) {
    if (body.Unlock()) return S_OK;
    ErrorReporter(Msg::kSystemError);
    return E_FAIL;
}

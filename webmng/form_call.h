// Steps shared by the methods that scan or write a locked request body.
#pragma once
#include <climits>

#include "webmng/conversions.h"
#include "webmng/error_reporter.h"
#include "webmng/messages.h"
#include "formscan/form_scan.h"
#include "platform/byte_array.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's wide text is UTF-16");

// Locks the body, publishing "システムエラー" when it cannot be locked. The
// methods take the array from the argument before they write their outputs:
// a caller may pass one variable as both (GetFileInfo body, "x", body, ...),
// and the output written first must not leave the body without its array.
inline bool LockBody(LockedByteArray& body, SAFEARRAY* psaBody) {
    if (body.Lock(psaBody)) return true;
    ReportError(Msg::kSystemError);
    return false;
}

// Runs the scan over the locked body into the call's own record.
// A name with a zero character inside names no part: cut there it would
// name another. A body longer than the interface's 32-bit offsets reach (a
// 64-bit process can hold one) is refused like a body the scan cannot
// handle, never scanned in part.
inline std::int32_t ScanBody(const LockedByteArray& body, BSTR bstrItemName, FormScan& scan, ScanMode mode) {
    if (HasEmbeddedZero(bstrItemName)) return kScanNotFound;
    if (body.size() > static_cast<ULONG>(INT32_MAX)) return kScanFailed;
    return ScanForm(body.data(), static_cast<std::int32_t>(body.size()), reinterpret_cast<const char16_t*>(bstrItemName),
                    &scan, mode);
}

// Not found is no error; any other non-positive result is.
inline void ReportScanFailure(std::int32_t lResult) {
    if (lResult != kScanNotFound) ReportError(Msg::kException);
}

// Ends a method that holds the lock: its work's failures were published and
// the status is the unlock's; only a failed unlock gives E_FAIL.
inline HRESULT FinishLocked(LockedByteArray& body) {
    if (body.Unlock()) return S_OK;
    ReportError(Msg::kSystemError);
    return E_FAIL;
}

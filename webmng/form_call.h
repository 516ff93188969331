// Steps shared by the methods that scan or write a locked request body.
#pragma once
#include <climits>
#include <initializer_list>

#include "formscan/form_scan.h"
#include "platform/byte_array.h"
#include "platform/hresult_checks.h"
#include "webmng/conversions.h"
#include "webmng/error_reporter.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's wide text is UTF-16");

// A string argument a method cannot go without, and the message its absence
// gets.
struct RequiredString {
    BSTR bstr;
    const wchar_t* pszIfNull;
};

// The start of every method that takes the request body, in its order: the
// pointers (bPointers: the method's other pointers are all there; E_POINTER,
// no message), each required string as listed, the body's type; then
// clearOutputs() writes what a refused call leaves in the outputs and the
// body is locked ("システムエラー" when it cannot be). S_OK with the body
// locked, or the status to return with its message published. The array is
// taken from the argument before the outputs are written: a caller may pass
// one variable as both (GetFileInfo body, "x", body, ...), and the output
// written first must not leave the body without its array.
template <class ClearOutputs>
HRESULT OpenBody(LockedByteArray& body, VARIANT* pvarBody, bool bPointers,
                 std::initializer_list<RequiredString> required, ClearOutputs clearOutputs) {
    if (!pvarBody || !bPointers) return E_POINTER;
    for (const RequiredString& string : required)
        if (!string.bstr) return FailWith(string.pszIfNull);
    if (!IsByteArrayArg(pvarBody)) return FailWith(Msg::kNotArrayType);
    SAFEARRAY* const psaBody = pvarBody->parray;
    clearOutputs();
    return body.Lock(psaBody) ? S_OK : FailWith(Msg::kSystemError);
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
    return body.Unlock() ? S_OK : FailWith(Msg::kSystemError);
}

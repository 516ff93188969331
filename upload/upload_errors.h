// Failures of VARO.Upload, published as the thread's error information so a
// page script sees them as script errors with their description.
#pragma once
#include <windows.h>

#include "formscan/form_parts.h"
#include "platform/error_info.h"
#include "platform/messages.h"
#include "platform/refusal_codes.h"
#include "upload/upload_interface.h"

// The Upload object's failures.
constexpr ErrorSource kUploadErrors(CLSID_Upload, IID_IUpload);

// A byte count as decimal digits, for messages.
struct CountText {
    explicit CountText(unsigned long long n);
    wchar_t sz[24];
};

// Load's and LoadRequest's failure to make a form out of the body.
HRESULT LoadFailure(PartsResult result, LONG lMaxParts);

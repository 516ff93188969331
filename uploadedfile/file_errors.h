// Failures of an UploadedFile, published as the thread's error information
// so a page script sees them as script errors with their description.
#pragma once
#include <windows.h>

#include "platform/error_info.h"
#include "platform/messages.h"
#include "platform/refusal_codes.h"
#include "uploadedfile/uploaded_file_interface.h"

// Whichever class handed the file out, its errors are the file object's.
constexpr ErrorSource kFileErrors(CLSID_Upload, IID_IUploadedFile);

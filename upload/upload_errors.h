// Failures of VARO.Upload, published as the thread's error information so a
// page script sees them as script errors with their description.
#pragma once
#include <windows.h>

#include "formscan/form_parts.h"

// Publishes the message (a wsprintfW format with at most one long argument)
// and gives hr.
HRESULT UploadFailure(REFIID riid, HRESULT hr, const wchar_t* pszFormat, long lArgument = 0);

// Publishes a message made with wsprintfW from a format with up to two
// string arguments, and gives hr.
HRESULT UploadFailureText(REFIID riid, HRESULT hr, const wchar_t* pszFormat, const wchar_t* pszFirst,
                          const wchar_t* pszSecond = L"");

// A byte count as decimal digits, for messages.
struct CountText {
    explicit CountText(unsigned long long n);
    wchar_t sz[24];
};

// Publishes the message followed by the system's own text and code for
// dwError, and gives HRESULT_FROM_WIN32(dwError).
HRESULT UploadSystemFailure(REFIID riid, const wchar_t* pszMessage, DWORD dwError);

// Load's and LoadRequest's failure to make a form out of the body.
HRESULT LoadFailure(PartsResult result, LONG lMaxParts);
// The Upload object's failure for want of memory.
HRESULT UploadNoMemory();

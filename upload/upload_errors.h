// Failures of VARO.Upload, published as the thread's error information so a
// page script sees them as script errors with their description.
#pragma once
#include <windows.h>

// Publishes the message (a wsprintfW format with at most one long argument)
// and gives hr.
HRESULT UploadFailure(REFIID riid, HRESULT hr, const wchar_t* pszFormat, long lArgument = 0);

// Publishes the message followed by the system's own text and code for
// dwError, and gives HRESULT_FROM_WIN32(dwError).
HRESULT UploadSystemFailure(REFIID riid, const wchar_t* pszMessage, DWORD dwError);

// The calling thread's error information, as a failed call publishes it.
#pragma once
#include <windows.h>
#include <oleauto.h>

// Publishes pszDescription with the class's ProgID as source (when the class
// is registered) and the interface as GUID. When the error object cannot be
// made nothing is published.
void PublishErrorInfo(REFCLSID rclsid, REFIID riid, const wchar_t* pszDescription);

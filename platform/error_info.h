// The calling thread's error information, as a failed call publishes it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "platform/win32_owners.h"

// The one way a failure is published: pszDescription with the class's ProgID
// as source (when the class is registered) and the interface as GUID. Gives
// hr, so that a failing call ends in `return PublishFailure(...)`. When the
// error object cannot be made nothing is published; hr is given all the same.
HRESULT PublishFailure(REFCLSID rclsid, REFIID riid, HRESULT hr, const wchar_t* pszDescription);

// The description of the thread's error information, which stays in place
// for the caller (reading it takes it off the thread, so it is put back).
// Null when there is none.
UniqueBstr ThreadErrorDescription();

// Where one interface's failures come from, so its methods name neither the
// class nor the interface at each failure.
class ErrorSource {
public:
    constexpr ErrorSource(const CLSID& clsid, const IID& iid) : m_pClassId(&clsid), m_pInterfaceId(&iid) {}

    HRESULT Fail(HRESULT hr, const wchar_t* pszMessage) const {
        return PublishFailure(*m_pClassId, *m_pInterfaceId, hr, pszMessage);
    }
    // The message made with wsprintfW from a format with one long argument.
    HRESULT Fail(HRESULT hr, const wchar_t* pszFormat, long lArgument) const;
    // The message made with wsprintfW from a format with up to two strings.
    HRESULT FailText(HRESULT hr, const wchar_t* pszFormat, const wchar_t* pszFirst,
                     const wchar_t* pszSecond = L"") const;
    // The message followed by the system's own text and code for dwError;
    // gives HRESULT_FROM_WIN32(dwError).
    HRESULT FailSystem(const wchar_t* pszMessage, DWORD dwError) const;
    // The answer to an exhausted heap: "作業領域メモリを確保できませんでした。",
    // E_OUTOFMEMORY.
    HRESULT NoMemory() const;

private:
    const CLSID* m_pClassId;
    const IID* m_pInterfaceId;
};

// A request's body as a server reads it: Content-Length bytes from the body
// file or from the host's input, taken as the page asks for them and never
// held whole, so a page that streams an upload runs in little memory.
#pragma once
#include <windows.h>

class RequestBody {
public:
    // No body.
    RequestBody() = default;
    // cbTotal bytes from h, which stays the caller's.
    RequestBody(HANDLE h, unsigned long long cbTotal) : m_h(h), m_cbTotal(cbTotal) {}
    RequestBody(const RequestBody&) = delete;
    RequestBody& operator=(const RequestBody&) = delete;

    unsigned long long Total() const { return m_cbTotal; }
    unsigned long long Left() const { return m_cbTotal - m_cbTaken; }
    // Up to cb bytes of what is left, waiting for them to arrive: fewer
    // only when the input ends first.
    size_t Read(BYTE* pb, size_t cb);
    // Reads past what the page left, so the next request on the same input
    // starts where it should; false when the input ended before the body.
    bool Drain();
    bool EndedEarly() const { return m_bEnded; }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
    unsigned long long m_cbTotal = 0;
    unsigned long long m_cbTaken = 0;
    bool m_bEnded = false;
};

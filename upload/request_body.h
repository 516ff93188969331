// The body of a page's Request object, read through automation in pieces as
// the server hands them over (TotalBytes, then BinaryRead(count) until
// done), so that no more than one piece is held at a time.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "platform/byte_array.h"
#include "platform/scoped_variant.h"

class RequestBody {
public:
    enum class Status {
        kOk,
        kNotRequest,  // the object has no TotalBytes or BinaryRead
        kBadTotal,    // TotalBytes is not a byte count
        kReadFailed,  // BinaryRead failed (Failure() says how)
        kNotBytes,    // BinaryRead gave something other than a byte array
    };

    explicit RequestBody(IDispatch* pRequest) : m_pRequest(pRequest) {}
    ~RequestBody() { Drop(); }
    RequestBody(const RequestBody&) = delete;
    RequestBody& operator=(const RequestBody&) = delete;

    // The body's size as the request states it.
    Status Open(std::uint64_t* pcbTotal);
    // The boundary the request's Content-Type names, asked as a page asks
    // (ServerVariables("CONTENT_TYPE")), into abBoundary (room for
    // kcbMaxBoundary bytes): *pcbBoundary is 0 when it names none that can
    // be used (no ServerVariables, no text, not a multipart type, no usable
    // boundary parameter). False only without memory.
    bool Boundary(unsigned char* abBoundary, std::uint32_t* pcbBoundary);
    // The next piece of at most cbWant bytes, valid until the next call; an
    // empty piece means the client sent no more.
    Status Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb);
    // BinaryRead's own failure code.
    HRESULT Failure() const { return m_hrFailure; }

private:
    void Drop();

    IDispatch* m_pRequest;
    DISPID m_dispidBinaryRead = DISPID_UNKNOWN;
    ScopedVariant m_piece;          // the last piece,
    LockedByteArray m_pieceBytes;   // its data locked while held
    HRESULT m_hrFailure = S_OK;
};

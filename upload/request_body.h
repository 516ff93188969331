// The body of a page's Request object, read through automation in pieces as
// the server hands them over (TotalBytes, then BinaryRead(count) until
// done), so that no more than one piece is held at a time.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "platform/page_request.h"

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
    HRESULT Failure() const { return m_pieces.Failure(); }

private:
    IDispatch* m_pRequest;
    BinaryReadPieces m_pieces;
};

// A page's Request object called through automation as a page's script
// calls it: a member found by name, ServerVariables(name), and the body by
// BinaryRead(count) in pieces, no more than one held at a time. A form's
// reader and a resumable upload's reader both go through it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "platform/byte_array.h"
#include "platform/scoped_variant.h"

// The object's member of that name; false when it has none.
bool DispatchMemberId(IDispatch* pObject, const wchar_t* pszName, DISPID* pDispid);

// ServerVariables(name) (dispid its member) into *pValue, as the server gave
// it (a list object whose default value is the text, on some servers); the
// call's own failure code when it fails.
HRESULT CallServerVariables(IDispatch* pRequest, DISPID dispid, const wchar_t* pszName, ScopedVariant* pValue);

class BinaryReadPieces {
public:
    enum class Result {
        kOk,
        kReadFailed,  // BinaryRead failed (Failure() says how)
        kNotBytes,    // BinaryRead gave something other than a byte array
    };

    BinaryReadPieces() = default;
    ~BinaryReadPieces() { Drop(); }
    BinaryReadPieces(const BinaryReadPieces&) = delete;
    BinaryReadPieces& operator=(const BinaryReadPieces&) = delete;

    void Use(IDispatch* pRequest, DISPID dispidBinaryRead) {
        m_pRequest = pRequest;
        m_dispid = dispidBinaryRead;
    }
    // The next piece of at most cbWant bytes, valid until the next call; an
    // empty piece means the client sent no more.
    Result Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb);
    // BinaryRead's own failure, S_OK when it gave what it had.
    HRESULT Failure() const { return m_hrFailure; }

private:
    void Drop();

    IDispatch* m_pRequest = nullptr;
    DISPID m_dispid = DISPID_UNKNOWN;
    ScopedVariant m_piece;         // the last piece,
    LockedByteArray m_pieceBytes;  // its data locked while held
    HRESULT m_hrFailure = S_OK;
};

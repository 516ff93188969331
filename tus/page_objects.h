// The page's Request and Response, called through automation as a page's
// script calls them: ServerVariables(name), BinaryRead(count) in pieces,
// Status and AddHeader. Nothing else of them is used.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "platform/module_heap.h"
#include "platform/page_request.h"
#include "platform/win32_owners.h"
#include "resumable/tus_exchange.h"

// A server variable's text, and its bytes as a header carries them: a
// character past ASCII becomes 0x7F, which no header the protocol reads
// takes, so it is refused rather than guessed at.
struct VariableBytes {
    UniqueBstr text;
    ModuleBlock bytes;
    std::uint32_t cb = 0;

    resumable::HeaderBytes Header() const { return {bytes.as<unsigned char>(), cb}; }
};

class PageRequest final : public resumable::RequestPieces {
public:
    explicit PageRequest(IDispatch* pRequest) : m_pRequest(pRequest) {}
    PageRequest(const PageRequest&) = delete;
    PageRequest& operator=(const PageRequest&) = delete;

    // False when the object has no ServerVariables or BinaryRead.
    bool Ready();
    // ServerVariables(name); S_OK, E_OUTOFMEMORY or the call's failure.
    HRESULT Variable(const wchar_t* pszName, VariableBytes* pValue);
    bool Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) override;
    // BinaryRead's own failure, S_OK when it gave what it had.
    HRESULT Failure() const { return m_pieces.Failure(); }

private:
    IDispatch* m_pRequest;
    DISPID m_dispidVariables = DISPID_UNKNOWN;
    BinaryReadPieces m_pieces;
};

// Response.Status = pszStatus; then Response.AddHeader name, value for each
// header of the answer. S_OK or the first call's failure.
HRESULT WriteAnswer(IDispatch* pResponse, const resumable::TusExchange& exchange);

// The upload URL's beginning: the page's own URL (scheme, host, path from
// HTTPS, HTTP_HOST or SERVER_NAME and SERVER_PORT, URL) with its query and
// "id=" after it, every byte past visible ASCII percent-encoded, so nothing
// the client sent as Host can break the header. Into *pBytes, *pcb.
HRESULT PageLocation(PageRequest& request, const VariableBytes& query, ModuleBlock* pBytes, std::uint32_t* pcb);

// The value of the one "id" parameter of a query (after '?' when the text
// is a URL), or an empty one: an id named twice names none.
resumable::HeaderBytes QueryId(const unsigned char* pb, std::size_t cb);

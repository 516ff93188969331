#include "upload/request_body.h"

#include "formscan/content_type.h"
#include "platform/module_heap.h"

bool RequestBody::Boundary(unsigned char* abBoundary, std::uint32_t* pcbBoundary) {
    *pcbBoundary = 0;
    DISPID dispid = DISPID_UNKNOWN;
    if (!m_pRequest || !DispatchMemberId(m_pRequest, L"ServerVariables", &dispid)) return true;
    ScopedVariant type;
    const HRESULT hr = CallServerVariables(m_pRequest, dispid, L"CONTENT_TYPE", &type);
    if (hr == E_OUTOFMEMORY) return false;
    if (FAILED(hr)) return true;
    // A server may answer with a list object whose default value is the text.
    const HRESULT hrText = VariantChangeType(type.get(), type.get(), 0, VT_BSTR);
    if (hrText == E_OUTOFMEMORY) return false;
    if (FAILED(hrText)) return true;
    // The header's bytes: a boundary is ASCII, and any other character
    // becomes one no boundary may hold.
    const BSTR bstrType = type->bstrVal;
    const std::uint32_t cch = SysStringLen(bstrType);
    ModuleBlock bytes(ModuleAlloc(cch ? cch : 1));
    if (!bytes) return false;
    unsigned char* pb = bytes.as<unsigned char>();
    for (std::uint32_t i = 0; i < cch; ++i) pb[i] = bstrType[i] < 0x80 ? static_cast<unsigned char>(bstrType[i]) : 0x7F;
    formscan::ContentTypeBoundary(pb, cch, abBoundary, pcbBoundary);
    return true;
}

RequestBody::Status RequestBody::Open(std::uint64_t* pcbTotal) {
    *pcbTotal = 0;
    DISPID dispidTotal = DISPID_UNKNOWN, dispidBinaryRead = DISPID_UNKNOWN;
    if (!m_pRequest || !DispatchMemberId(m_pRequest, L"TotalBytes", &dispidTotal) ||
        !DispatchMemberId(m_pRequest, L"BinaryRead", &dispidBinaryRead))
        return Status::kNotRequest;
    m_pieces.Use(m_pRequest, dispidBinaryRead);
    ScopedVariant total;
    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    if (FAILED(m_pRequest->Invoke(dispidTotal, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                  &noArgs, total.get(), nullptr, nullptr)) ||
        FAILED(VariantChangeType(total.get(), total.get(), 0, VT_R8)))
        return Status::kBadTotal;
    // A count of bytes: whole, not negative, and exact in a double.
    const double dblTotal = total->dblVal;
    if (!(dblTotal >= 0 && dblTotal <= 9007199254740992.0) || dblTotal != static_cast<double>(
                                                                             static_cast<std::uint64_t>(dblTotal)))
        return Status::kBadTotal;
    *pcbTotal = static_cast<std::uint64_t>(dblTotal);
    return Status::kOk;
}

RequestBody::Status RequestBody::Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) {
    switch (m_pieces.Next(cbWant, ppb, pcb)) {
    case BinaryReadPieces::Result::kOk: return Status::kOk;
    case BinaryReadPieces::Result::kReadFailed: return Status::kReadFailed;
    case BinaryReadPieces::Result::kNotBytes: break;
    }
    return Status::kNotBytes;
}

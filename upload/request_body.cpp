#include "upload/request_body.h"

#include "formscan/content_type.h"
#include "platform/excep_info.h"
#include "platform/module_heap.h"
#include "platform/win32_owners.h"

namespace {

bool MemberId(IDispatch* pObject, const wchar_t* pszName, DISPID* pDispid) {
    LPOLESTR pszNames[1] = {const_cast<LPOLESTR>(pszName)};
    return SUCCEEDED(pObject->GetIDsOfNames(IID_NULL, pszNames, 1, LOCALE_USER_DEFAULT, pDispid));
}

}  // namespace

bool RequestBody::Boundary(unsigned char* abBoundary, std::uint32_t* pcbBoundary) {
    *pcbBoundary = 0;
    DISPID dispid = DISPID_UNKNOWN;
    if (!m_pRequest || !MemberId(m_pRequest, L"ServerVariables", &dispid)) return true;
    UniqueBstr name(SysAllocString(L"CONTENT_TYPE"));
    if (!name) return false;
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = name.get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ScopedVariant type;
    ScopedExcepInfo excep;
    const HRESULT hr = m_pRequest->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                          &params, type.get(), excep.get(), nullptr);
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
    DISPID dispidTotal = DISPID_UNKNOWN;
    if (!m_pRequest || !MemberId(m_pRequest, L"TotalBytes", &dispidTotal) ||
        !MemberId(m_pRequest, L"BinaryRead", &m_dispidBinaryRead))
        return Status::kNotRequest;
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

void RequestBody::Drop() {
    m_pieceBytes.Unlock();
    m_piece.reset();
}

RequestBody::Status RequestBody::Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) {
    *ppb = nullptr;
    *pcb = 0;
    Drop();
    // The count goes by reference: the server writes back how many bytes it gave.
    ScopedVariant count;
    count.get()->vt = VT_I4;
    count.get()->lVal = static_cast<LONG>(cbWant);
    VARIANT arg;
    arg.vt = VT_BYREF | VT_VARIANT;
    arg.pvarVal = count.get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ScopedExcepInfo excep;
    m_hrFailure = excep.Failure(m_pRequest->Invoke(m_dispidBinaryRead, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                   &params, m_piece.get(), excep.get(), nullptr));
    if (FAILED(m_hrFailure)) return Status::kReadFailed;
    if (m_piece->vt == VT_EMPTY || m_piece->vt == VT_NULL) return Status::kOk;  // nothing more
    if (!IsByteArrayArg(m_piece.get()) || !m_pieceBytes.Lock(m_piece->parray)) return Status::kNotBytes;
    *ppb = m_pieceBytes.data();
    *pcb = m_pieceBytes.size();
    return Status::kOk;
}

#include "platform/page_request.h"

#include "platform/excep_info.h"
#include "platform/win32_owners.h"

bool DispatchMemberId(IDispatch* pObject, const wchar_t* pszName, DISPID* pDispid) {
    LPOLESTR pszNames[1] = {const_cast<LPOLESTR>(pszName)};
    return SUCCEEDED(pObject->GetIDsOfNames(IID_NULL, pszNames, 1, LOCALE_USER_DEFAULT, pDispid));
}

HRESULT CallServerVariables(IDispatch* pRequest, DISPID dispid, const wchar_t* pszName, ScopedVariant* pValue) {
    pValue->reset();
    UniqueBstr name(SysAllocString(pszName));
    if (!name) return E_OUTOFMEMORY;
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = name.get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ScopedExcepInfo excep;
    // A collection read by name is a call or a get, as the server's scripts
    // write it.
    return excep.Failure(pRequest->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                          &params, pValue->get(), excep.get(), nullptr));
}

void BinaryReadPieces::Drop() {
    m_pieceBytes.Unlock();
    m_piece.reset();
}

BinaryReadPieces::Result BinaryReadPieces::Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) {
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
    m_hrFailure = excep.Failure(m_pRequest->Invoke(m_dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                                   m_piece.get(), excep.get(), nullptr));
    if (FAILED(m_hrFailure)) return Result::kReadFailed;
    if (m_piece->vt == VT_EMPTY || m_piece->vt == VT_NULL) return Result::kOk;  // nothing more
    if (!IsByteArrayArg(m_piece.get()) || !m_pieceBytes.Lock(m_piece->parray)) return Result::kNotBytes;
    *ppb = m_pieceBytes.data();
    *pcb = m_pieceBytes.size();
    return Result::kOk;
}

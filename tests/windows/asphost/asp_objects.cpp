#include "asp_objects.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

namespace {

enum : DISPID {
    kTotalBytes = 1,
    kBinaryRead,
    kServerVariables,
    kWrite = 1,
    kCharSet,
    kCreateObject = 1,
    kMapPath,
    kHtmlEncode,
};

const WORD kGet = DISPATCH_PROPERTYGET;
const WORD kMethod = DISPATCH_METHOD;

// A collection read by name (ServerVariables) is a call or a get to a script.
const ScriptMember kRequestMembers[] = {
    {L"TotalBytes", kTotalBytes, kGet, 0},
    {L"BinaryRead", kBinaryRead, kMethod, 1},
    {L"ServerVariables", kServerVariables, kMethod | kGet, 1},
};
const ScriptMember kResponseMembers[] = {
    {L"Write", kWrite, kMethod, 1},
    {L"CharSet", kCharSet, DISPATCH_PROPERTYPUT, 0},
};
const ScriptMember kServerMembers[] = {
    {L"CreateObject", kCreateObject, kMethod, 1},
    {L"MapPath", kMapPath, kMethod, 1},
    {L"HTMLEncode", kHtmlEncode, kMethod, 1},
};

template <size_t N>
UINT Count(const ScriptMember (&)[N]) { return static_cast<UINT>(N); }

// The client sent "multipart/form-data; boundary=B" and the body's first line
// is "--B".
std::wstring ContentTypeOf(const std::vector<BYTE>& body) {
    std::wstring type = L"multipart/form-data";
    if (body.size() < 2 || body[0] != '-' || body[1] != '-') return type;
    type += L"; boundary=";
    for (size_t i = 2; i < body.size() && body[i] != '\r' && body[i] != '\n'; ++i) type += wchar_t(body[i]);
    return type;
}

// Argument i as text; a value that has none is the caller's type mismatch.
HRESULT TextArg(const ScriptArgs& args, UINT i, std::wstring& text, UINT* puArgErr) {
    HRESULT hr = VariantText(args.At(i), text);
    if (FAILED(hr)) *puArgErr = args.CallerIndex(i);
    return hr;
}

}  // namespace

RequestObject::RequestObject(std::vector<BYTE> body)
    : ScriptObject(L"Request", kRequestMembers, Count(kRequestMembers)), m_body(std::move(body)),
      m_contentType(ContentTypeOf(m_body)) {}

HRESULT RequestObject::Call(DISPID dispid, WORD, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr) {
    switch (dispid) {
    case kTotalBytes:
        V_VT(pvarResult) = VT_I4;
        V_I4(pvarResult) = static_cast<LONG>(m_body.size());
        return S_OK;
    case kBinaryRead:
        return BinaryRead(args, pvarResult, pExcepInfo, puArgErr);
    case kServerVariables: {
        std::wstring name;
        HRESULT hr = TextArg(args, 0, name, puArgErr);
        if (FAILED(hr)) return hr;
        if (lstrcmpiW(name.c_str(), L"REQUEST_METHOD") == 0) return ReturnText(pvarResult, L"POST");
        if (lstrcmpiW(name.c_str(), L"CONTENT_TYPE") == 0) return ReturnText(pvarResult, m_contentType);
        return ReturnText(pvarResult, L"");
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT RequestObject::BinaryRead(const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                                  UINT* puArgErr) {
    VARIANT* pvarCount = args.At(0);
    LONG count = 0;
    HRESULT hr = VariantLong(pvarCount, count);
    if (FAILED(hr)) {
        *puArgErr = args.CallerIndex(0);
        return hr;
    }
    if (count < 0) return RaiseError(pExcepInfo, L"BinaryRead", L"the byte count is negative", E_INVALIDARG);
    ULONG cb = static_cast<ULONG>(std::min<size_t>(static_cast<size_t>(count), m_body.size() - m_cbRead));

    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, cb);
    if (!psa) return E_OUTOFMEMORY;
    // Held by the result from here on, so a failure's clean-up destroys it.
    V_VT(pvarResult) = VT_ARRAY | VT_UI1;
    V_ARRAY(pvarResult) = psa;
    void* pvData = nullptr;
    hr = SafeArrayAccessData(psa, &pvData);
    if (FAILED(hr)) return hr;
    if (cb) memcpy(pvData, m_body.data() + m_cbRead, cb);
    SafeArrayUnaccessData(psa);
    m_cbRead += cb;

    // A variable passed as the count learns how many bytes were read.
    if (V_VT(pvarCount) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(pvarCount)) {
        VARIANT* pvarTarget = V_VARIANTREF(pvarCount);
        VariantClear(pvarTarget);
        V_VT(pvarTarget) = VT_I4;
        V_I4(pvarTarget) = static_cast<LONG>(cb);
    } else if (V_VT(pvarCount) == (VT_BYREF | VT_I4) && V_I4REF(pvarCount)) {
        *V_I4REF(pvarCount) = static_cast<LONG>(cb);
    }
    return S_OK;
}

ResponseObject::ResponseObject() : ScriptObject(L"Response", kResponseMembers, Count(kResponseMembers)) {}

HRESULT ResponseObject::Call(DISPID dispid, WORD, const ScriptArgs& args, VARIANT*, EXCEPINFO*, UINT* puArgErr) {
    switch (dispid) {
    case kWrite: {
        std::wstring text;
        HRESULT hr = TextArg(args, 0, text, puArgErr);
        if (SUCCEEDED(hr)) m_text += text;
        return hr;
    }
    case kCharSet:
        // The response goes out as UTF-8 whatever the page asks for.
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

ServerObject::ServerObject(std::wstring uploadDir)
    : ScriptObject(L"Server", kServerMembers, Count(kServerMembers)), m_uploadDir(std::move(uploadDir)) {}

HRESULT ServerObject::Call(DISPID dispid, WORD, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) {
    std::wstring text;
    HRESULT hr = TextArg(args, 0, text, puArgErr);
    if (FAILED(hr)) return hr;
    switch (dispid) {
    case kCreateObject:
        return CreateObject(text, pvarResult, pExcepInfo);
    case kMapPath:
        return ReturnText(pvarResult, MapPath(std::move(text)));
    case kHtmlEncode: {
        std::wstring encoded;
        for (wchar_t c : text) {
            switch (c) {
            case L'&': encoded += L"&amp;"; break;
            case L'<': encoded += L"&lt;"; break;
            case L'>': encoded += L"&gt;"; break;
            case L'"': encoded += L"&quot;"; break;
            default: encoded += c;
            }
        }
        return ReturnText(pvarResult, encoded);
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT ServerObject::CreateObject(const std::wstring& progid, VARIANT* pvarResult, EXCEPINFO* pExcepInfo) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progid.c_str(), &clsid);
    if (FAILED(hr)) return RaiseError(pExcepInfo, L"CreateObject", L"Invalid ProgID: " + progid, hr);
    IDispatch* pdisp = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&pdisp));
    if (FAILED(hr)) return RaiseError(pExcepInfo, L"CreateObject", L"Cannot create " + progid, hr);
    V_VT(pvarResult) = VT_DISPATCH;
    V_DISPATCH(pvarResult) = pdisp;
    return S_OK;
}

// The page's "uploads" folder is the upload directory; anything else is
// taken as a path below it.
std::wstring ServerObject::MapPath(std::wstring path) const {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    size_t start = path.find_first_not_of(L'\\');
    path.erase(0, start == std::wstring::npos ? path.size() : start);
    const wchar_t kFolder[] = L"uploads";
    const size_t cchFolder = ARRAYSIZE(kFolder) - 1;
    if (path.size() >= cchFolder && _wcsnicmp(path.c_str(), kFolder, cchFolder) == 0 &&
        (path.size() == cchFolder || path[cchFolder] == L'\\'))
        path.erase(0, std::min(path.size(), cchFolder + 1));
    return path.empty() ? m_uploadDir : m_uploadDir + L"\\" + path;
}

#include "asp_objects.h"
#include "server_variables.h"
#include "text_codec.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

namespace {

enum : DISPID {
    kTotalBytes = 1,
    kBinaryRead,
    kServerVariables,
    kQueryString,
    kWrite = 1,
    kBinaryWrite,
    kCharSet,
    kContentType,
    kStatus,
    kAddHeader,
    kCreateObject = 1,
    kMapPath,
    kHtmlEncode,
    kUrlEncode,
    kScriptTimeout,
};

const WORD kGet = DISPATCH_PROPERTYGET;
const WORD kPut = DISPATCH_PROPERTYPUT;
const WORD kMethod = DISPATCH_METHOD;

// A collection read by name (ServerVariables) is a call or a get to a script.
const ScriptMember kRequestMembers[] = {
    {L"TotalBytes", kTotalBytes, kGet, 0, 0},
    {L"BinaryRead", kBinaryRead, kMethod, 1, 0},
    {L"ServerVariables", kServerVariables, kMethod | kGet, 1, 0},
    {L"QueryString", kQueryString, kMethod | kGet, 0, 1},
};
const ScriptMember kResponseMembers[] = {
    {L"Write", kWrite, kMethod, 1, 0},
    {L"BinaryWrite", kBinaryWrite, kMethod, 1, 0},
    {L"CharSet", kCharSet, kGet | kPut, 0, 0},
    {L"ContentType", kContentType, kGet | kPut, 0, 0},
    {L"Status", kStatus, kGet | kPut, 0, 0},
    {L"AddHeader", kAddHeader, kMethod, 2, 0},
};
const ScriptMember kServerMembers[] = {
    {L"CreateObject", kCreateObject, kMethod, 1, 0},
    {L"MapPath", kMapPath, kMethod, 1, 0},
    {L"HTMLEncode", kHtmlEncode, kMethod, 1, 0},
    {L"URLEncode", kUrlEncode, kMethod, 1, 0},
    {L"ScriptTimeout", kScriptTimeout, kGet | kPut, 0, 0},
};

template <size_t N>
UINT Count(const ScriptMember (&)[N]) { return static_cast<UINT>(N); }

// Argument i as text; a value that has none is the caller's type mismatch.
HRESULT TextArg(const ScriptArgs& args, UINT i, std::wstring& text, UINT* puArgErr) {
    HRESULT hr = VariantText(args.At(i), text);
    if (FAILED(hr)) *puArgErr = args.CallerIndex(i);
    return hr;
}

// The values of a name in a query string, each decoded.
std::vector<std::wstring> QueryValues(const std::wstring& query, const std::wstring& name, UINT uCodePage) {
    std::vector<std::wstring> values;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find(L'&', start);
        if (end == std::wstring::npos) end = query.size();
        std::wstring pair = query.substr(start, end - start);
        size_t eq = pair.find(L'=');
        std::wstring key = UrlDecode(pair.substr(0, eq), uCodePage);
        if (!pair.empty() && lstrcmpiW(key.c_str(), name.c_str()) == 0)
            values.push_back(eq == std::wstring::npos ? std::wstring() : UrlDecode(pair.substr(eq + 1), uCodePage));
        start = end + 1;
    }
    return values;
}

// A tab is the one control character a header's value may hold.
bool HasControl(const std::wstring& text) {
    for (wchar_t c : text) {
        if ((c < 0x20 && c != L'\t') || c == 0x7F) return true;
    }
    return false;
}

bool IsToken(const std::wstring& name) {
    if (name.empty()) return false;
    for (wchar_t c : name) {
        if (c <= 0x20 || c > 0x7E || (!iswalnum(c) && !wcschr(L"!#$%&'*+-.^_`|~", c))) return false;
    }
    return true;
}

// Text from the page, its control characters shown as \xNN so that the
// message is one line.
std::wstring Shown(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            wchar_t escaped[8];
            swprintf(escaped, 8, L"\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

std::wstring HtmlEncode(const std::wstring& text) {
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
    return encoded;
}

RequestObject::RequestObject(PageRequest request, UINT uCodePage)
    : ScriptObject(L"Request", kRequestMembers, Count(kRequestMembers)), m_request(std::move(request)),
      m_uCodePage(uCodePage) {
    if (!m_request.pBody) m_request.pBody = &m_noBody;
}

HRESULT RequestObject::Call(DISPID dispid, WORD, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr) {
    switch (dispid) {
    case kTotalBytes: {
        // A length past a Long's range (a server's own limit) is still
        // told exactly, as a Double.
        const unsigned long long cbTotal = m_request.pBody->Total();
        if (cbTotal <= 0x7FFFFFFFull) {
            V_VT(pvarResult) = VT_I4;
            V_I4(pvarResult) = static_cast<LONG>(cbTotal);
        } else {
            V_VT(pvarResult) = VT_R8;
            V_R8(pvarResult) = static_cast<double>(cbTotal);
        }
        return S_OK;
    }
    case kBinaryRead:
        return BinaryRead(args, pvarResult, pExcepInfo, puArgErr);
    case kQueryString:
        return QueryString(args, pvarResult, puArgErr);
    case kServerVariables: {
        std::wstring name;
        HRESULT hr = TextArg(args, 0, name, puArgErr);
        if (FAILED(hr)) return hr;
        return ReturnText(pvarResult, ServerVariable(m_request, name, m_uCodePage));
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

// Without a name, the whole query string; with one, its values joined with
// ", ", or Empty when the name is not there.
HRESULT RequestObject::QueryString(const ScriptArgs& args, VARIANT* pvarResult, UINT* puArgErr) {
    if (args.Count() == 0) return ReturnText(pvarResult, m_request.queryString);
    std::wstring name;
    HRESULT hr = TextArg(args, 0, name, puArgErr);
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> values = QueryValues(m_request.queryString, name, m_uCodePage);
    if (values.empty()) return S_OK;
    std::wstring joined;
    for (size_t i = 0; i < values.size(); ++i) joined += (i ? L", " : L"") + values[i];
    return ReturnText(pvarResult, joined);
}

// Up to count bytes, from where the last call stopped; fewer only at the
// end of the body or when the input ends early. A variable passed as the
// count learns how many bytes were read, as on a server.
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
    RequestBody& body = *m_request.pBody;
    const ULONG cbWanted = static_cast<ULONG>(std::min<unsigned long long>(static_cast<ULONG>(count), body.Left()));

    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, cbWanted);
    if (!psa)
        return RaiseError(pExcepInfo, L"BinaryRead", L"no memory for " + std::to_wstring(cbWanted) + L" bytes",
                          E_OUTOFMEMORY);
    // Held by the result from here on, so a failure's clean-up destroys it.
    V_VT(pvarResult) = VT_ARRAY | VT_UI1;
    V_ARRAY(pvarResult) = psa;
    void* pvData = nullptr;
    hr = SafeArrayAccessData(psa, &pvData);
    if (FAILED(hr)) return hr;
    const ULONG cb = static_cast<ULONG>(body.Read(static_cast<BYTE*>(pvData), cbWanted));
    SafeArrayUnaccessData(psa);
    if (cb < cbWanted) {
        SAFEARRAYBOUND bound = {cb, 0};
        hr = SafeArrayRedim(psa, &bound);
        if (FAILED(hr)) return hr;
    }

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

ResponseObject::ResponseObject(UINT uCodePage)
    : ScriptObject(L"Response", kResponseMembers, Count(kResponseMembers)), m_uCodePage(uCodePage) {}

std::wstring ResponseObject::ContentTypeHeader() const {
    return m_charset.empty() ? m_contentType : m_contentType + L"; charset=" + m_charset;
}

std::string ResponseObject::Body() const {
    std::string out;
    for (const Segment& s : m_segments) out += s.bText ? Encode(s.text, m_uCodePage) : s.bytes;
    return out;
}

HRESULT ResponseObject::TextProperty(WORD wFlags, const ScriptArgs& args, std::wstring& value, VARIANT* pvarResult,
                                     UINT* puArgErr) {
    if (!(wFlags & kPut)) return ReturnText(pvarResult, value);
    HRESULT hr = VariantText(args.PutValue(), value);
    if (FAILED(hr)) *puArgErr = 0;
    return hr;
}

HRESULT ResponseObject::Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult,
                             EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    switch (dispid) {
    case kWrite: {
        std::wstring text;
        HRESULT hr = TextArg(args, 0, text, puArgErr);
        if (SUCCEEDED(hr)) Append(text);
        return hr;
    }
    case kBinaryWrite:
        return BinaryWrite(args.At(0), pExcepInfo);
    case kContentType: {
        if (!(wFlags & kPut)) return ReturnText(pvarResult, m_contentType);
        std::wstring type;
        HRESULT hr = TextProperty(wFlags, args, type, pvarResult, puArgErr);
        if (FAILED(hr)) return hr;
        if (HasControl(type))
            return RaiseError(pExcepInfo, L"ContentType", L"the content type holds a line break or another control "
                              L"character, which would end its header: " + Shown(type), E_INVALIDARG);
        m_contentType = type;
        return S_OK;
    }
    case kAddHeader: {
        std::wstring name, value;
        HRESULT hr = TextArg(args, 0, name, puArgErr);
        if (SUCCEEDED(hr)) hr = TextArg(args, 1, value, puArgErr);
        if (FAILED(hr)) return hr;
        return AddHeader(name, value, pExcepInfo);
    }
    case kStatus: {
        if (!(wFlags & kPut)) return ReturnText(pvarResult, m_status);
        std::wstring status;
        HRESULT hr = TextProperty(wFlags, args, status, pvarResult, puArgErr);
        if (FAILED(hr)) return hr;
        // "NNN reason": a client could not read anything else. A 1xx is
        // not a final answer: the client would wait for another.
        if (status.size() < 3 || !iswdigit(status[0]) || !iswdigit(status[1]) || !iswdigit(status[2]) ||
            (status.size() > 3 && status[3] != L' ') || HasControl(status))
            return RaiseError(pExcepInfo, L"Status", L"not a status line: " + Shown(status), E_INVALIDARG);
        if (status[0] == L'1')
            return RaiseError(pExcepInfo, L"Status", L"not a final status (200 and up): " + Shown(status),
                              E_INVALIDARG);
        m_status = status;
        return S_OK;
    }
    case kCharSet: {
        if (!(wFlags & kPut)) return ReturnText(pvarResult, m_charset);
        std::wstring charset;
        HRESULT hr = TextProperty(wFlags, args, charset, pvarResult, puArgErr);
        if (FAILED(hr)) return hr;
        UINT uCodePage = 0;
        if (!CodePageOfCharset(charset, uCodePage))
            return RaiseError(pExcepInfo, L"CharSet", L"unknown character set " + charset, E_INVALIDARG);
        m_charset = charset;
        m_uCodePage = uCodePage;
        return S_OK;
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

// A header's name and value as a client reads them: a line break in either
// would let the page's text start a header (or a body) of its own, and the
// fields that frame the answer are the server's alone.
HRESULT ResponseObject::AddHeader(const std::wstring& name, const std::wstring& value, EXCEPINFO* pExcepInfo) {
    if (name.find_first_of(L"\r\n") != std::wstring::npos)
        return RaiseError(pExcepInfo, L"AddHeader", L"the header name holds a line break (CR or LF): " + Shown(name),
                          E_INVALIDARG);
    if (!IsToken(name))
        return RaiseError(pExcepInfo, L"AddHeader", L"not a header name (letters, digits and !#$%&'*+-.^_`|~ only): " +
                          Shown(name), E_INVALIDARG);
    if (value.find_first_of(L"\r\n") != std::wstring::npos)
        return RaiseError(pExcepInfo, L"AddHeader", L"the value of " + name + L" holds a line break (CR or LF): " +
                          Shown(value), E_INVALIDARG);
    if (HasControl(value))
        return RaiseError(pExcepInfo, L"AddHeader", L"the value of " + name + L" holds a control character: " +
                          Shown(value), E_INVALIDARG);
    for (const wchar_t* pszFraming : {L"Content-Length", L"Transfer-Encoding", L"Connection"}) {
        if (lstrcmpiW(name.c_str(), pszFraming) == 0)
            return RaiseError(pExcepInfo, L"AddHeader", name + L" is the server's to set, from what the page "
                              L"writes", E_INVALIDARG);
    }
    m_headers.emplace_back(name, value);
    return S_OK;
}

HRESULT ResponseObject::BinaryWrite(const VARIANT* pvar, EXCEPINFO* pExcepInfo) {
    ScopedVariant value;
    HRESULT hr = VariantCopyInd(value.get(), const_cast<VARIANT*>(pvar));
    if (FAILED(hr)) return hr;
    if (V_VT(value.get()) != (VT_ARRAY | VT_UI1) || !V_ARRAY(value.get()) || SafeArrayGetDim(V_ARRAY(value.get())) != 1)
        return RaiseError(pExcepInfo, L"BinaryWrite", L"the argument is not a byte array", DISP_E_TYPEMISMATCH);
    SAFEARRAY* psa = V_ARRAY(value.get());
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(psa, 1, &lower);
    SafeArrayGetUBound(psa, 1, &upper);
    void* pvData = nullptr;
    hr = SafeArrayAccessData(psa, &pvData);
    if (FAILED(hr)) return hr;
    size_t cb = upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0;
    m_segments.push_back({false, std::wstring(), std::string(static_cast<const char*>(pvData), cb)});
    SafeArrayUnaccessData(psa);
    return S_OK;
}

ServerObject::ServerObject(SitePaths site, UINT uCodePage)
    : ScriptObject(L"Server", kServerMembers, Count(kServerMembers)), m_site(std::move(site)), m_uCodePage(uCodePage) {}

HRESULT ServerObject::Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (dispid == kScriptTimeout) return ScriptTimeout(wFlags, args, pvarResult, pExcepInfo, puArgErr);
    std::wstring text;
    HRESULT hr = TextArg(args, 0, text, puArgErr);
    if (FAILED(hr)) return hr;
    switch (dispid) {
    case kCreateObject:
        return CreateObject(text, pvarResult, pExcepInfo);
    case kMapPath:
        return MapPath(text, pvarResult, pExcepInfo);
    case kHtmlEncode:
        return ReturnText(pvarResult, HtmlEncode(text));
    case kUrlEncode:
        return ReturnText(pvarResult, UrlEncode(text, m_uCodePage));
    }
    return DISP_E_MEMBERNOTFOUND;
}

// Kept and told back, as pages set it before long work; the host's own
// limits (scripts/serve's timeouts) are what end a page here.
HRESULT ServerObject::ScriptTimeout(WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                                    UINT* puArgErr) {
    if (!(wFlags & kPut)) {
        V_VT(pvarResult) = VT_I4;
        V_I4(pvarResult) = m_lScriptTimeout;
        return S_OK;
    }
    VARIANT seconds;
    VariantInit(&seconds);
    HRESULT hr = VariantChangeType(&seconds, args.PutValue(), 0, VT_I4);
    if (FAILED(hr)) {
        if (puArgErr) *puArgErr = 0;
        return DISP_E_TYPEMISMATCH;
    }
    if (V_I4(&seconds) <= 0) return RaiseError(pExcepInfo, L"ScriptTimeout", L"the seconds are not above 0", E_INVALIDARG);
    m_lScriptTimeout = V_I4(&seconds);
    return S_OK;
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

HRESULT ServerObject::MapPath(const std::wstring& path, VARIANT* pvarResult, EXCEPINFO* pExcepInfo) const {
    std::wstring physical, failure;
    if (!m_site.Map(path, physical, failure)) return RaiseError(pExcepInfo, L"MapPath", failure, E_INVALIDARG);
    return ReturnText(pvarResult, physical);
}

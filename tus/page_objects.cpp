#include "tus/page_objects.h"

#include <cstring>
#include <utility>

#include "platform/excep_info.h"

namespace {

bool SameAscii(BSTR bstr, const wchar_t* psz) {
    const UINT cch = SysStringLen(bstr);
    for (UINT i = 0; i < cch; ++i, ++psz) {
        wchar_t a = bstr[i], b = *psz;
        if (!b) return false;
        if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a + 32);
        if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b + 32);
        if (a != b) return false;
    }
    return *psz == L'\0';
}

bool IsHighSurrogateChar(wchar_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }

// Bytes grown as a URL is put together.
class Builder {
public:
    bool Reserve(std::size_t cb) {
        m_block.reset(ModuleAlloc(cb ? cb : 1));
        m_cbCapacity = cb;
        return static_cast<bool>(m_block);
    }
    // Visible ASCII as it is; everything else (blanks, controls, and UTF-8
    // of anything past ASCII) percent-encoded.
    void Text(const wchar_t* pch, UINT cch) {
        char ab[4];
        for (UINT i = 0; i < cch; ++i) {
            const int cb = WideCharToMultiByte(CP_UTF8, 0, pch + i, IsHighSurrogateChar(pch[i]) && i + 1 < cch ? 2 : 1,
                                               ab, sizeof ab, nullptr, nullptr);
            if (IsHighSurrogateChar(pch[i]) && i + 1 < cch) ++i;
            for (int k = 0; k < cb; ++k) Byte(static_cast<unsigned char>(ab[k]));
        }
    }
    void Ascii(const char* psz) {
        while (*psz) Put(static_cast<unsigned char>(*psz++));
    }
    void Byte(unsigned char ch) {
        static const char kszHex[] = "0123456789ABCDEF";
        if (ch > 0x20 && ch < 0x7F) return Put(ch);
        Put('%');
        Put(static_cast<unsigned char>(kszHex[ch >> 4]));
        Put(static_cast<unsigned char>(kszHex[ch & 15]));
    }
    ModuleBlock m_block;
    std::size_t m_cb = 0;

private:
    void Put(unsigned char ch) {
        if (m_cb < m_cbCapacity) m_block.as<unsigned char>()[m_cb++] = ch;
    }
    std::size_t m_cbCapacity = 0;
};

}  // namespace

bool PageRequest::Ready() {
    DISPID dispidBinaryRead = DISPID_UNKNOWN;
    if (!m_pRequest || !DispatchMemberId(m_pRequest, L"ServerVariables", &m_dispidVariables) ||
        !DispatchMemberId(m_pRequest, L"BinaryRead", &dispidBinaryRead))
        return false;
    m_pieces.Use(m_pRequest, dispidBinaryRead);
    return true;
}

HRESULT PageRequest::Variable(const wchar_t* pszName, VariableBytes* pValue) {
    pValue->text.reset();
    pValue->cb = 0;
    ScopedVariant value;
    const HRESULT hr = CallServerVariables(m_pRequest, m_dispidVariables, pszName, &value);
    if (FAILED(hr)) return hr;
    // A server may answer with a list object whose default value is the
    // text; nothing at all reads as an absent header.
    if (value->vt == VT_EMPTY || value->vt == VT_NULL) {
        pValue->text.reset(SysAllocStringLen(nullptr, 0));
    } else {
        const HRESULT hrText = VariantChangeType(value.get(), value.get(), 0, VT_BSTR);
        if (FAILED(hrText)) return hrText;
        pValue->text.reset(value->bstrVal);
        value.get()->vt = VT_EMPTY;
    }
    if (!pValue->text) return E_OUTOFMEMORY;
    const UINT cch = SysStringLen(pValue->text.get());
    pValue->bytes.reset(ModuleAlloc(cch ? cch : 1));
    if (!pValue->bytes) return E_OUTOFMEMORY;
    unsigned char* pb = pValue->bytes.as<unsigned char>();
    const BSTR bstr = pValue->text.get();
    for (UINT i = 0; i < cch; ++i) pb[i] = bstr[i] < 0x80 ? static_cast<unsigned char>(bstr[i]) : 0x7F;
    pValue->cb = cch;
    return S_OK;
}

bool PageRequest::Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) {
    return m_pieces.Next(cbWant, ppb, pcb) == BinaryReadPieces::Result::kOk;
}

namespace {

HRESULT CallResponse(IDispatch* pResponse, const wchar_t* pszMember, WORD wFlags, VARIANT* pArgs, UINT cArgs) {
    DISPID dispid = DISPID_UNKNOWN;
    if (!DispatchMemberId(pResponse, pszMember, &dispid)) return DISP_E_MEMBERNOTFOUND;
    DISPID dispidPut = DISPID_PROPERTYPUT;
    DISPPARAMS params{pArgs, wFlags == DISPATCH_PROPERTYPUT ? &dispidPut : nullptr, cArgs,
                      wFlags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    ScopedVariant result;
    ScopedExcepInfo excep;
    return excep.Failure(pResponse->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, result.get(),
                                           excep.get(), nullptr));
}

BSTR AsciiBstr(const char* pch, std::size_t cch) {
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
    if (bstr)
        for (std::size_t i = 0; i < cch; ++i) bstr[i] = static_cast<unsigned char>(pch[i]);
    return bstr;
}

}  // namespace

HRESULT WriteAnswer(IDispatch* pResponse, const resumable::TusExchange& exchange) {
    UniqueBstr status(AsciiBstr(exchange.pszStatus, std::strlen(exchange.pszStatus)));
    if (!status) return E_OUTOFMEMORY;
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = status.get();
    HRESULT hr = CallResponse(pResponse, L"Status", DISPATCH_PROPERTYPUT, &arg, 1);
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < exchange.nHeaders; ++i) {
        const resumable::AnswerHeader& header = exchange.aHeaders[i];
        UniqueBstr name(AsciiBstr(header.pszName, std::strlen(header.pszName)));
        UniqueBstr value(AsciiBstr(exchange.achText + header.lValue, header.cbValue));
        if (!name || !value) return E_OUTOFMEMORY;
        // Arguments go last first.
        VARIANT args[2];
        args[0].vt = VT_BSTR;
        args[0].bstrVal = value.get();
        args[1].vt = VT_BSTR;
        args[1].bstrVal = name.get();
        hr = CallResponse(pResponse, L"AddHeader", DISPATCH_METHOD, args, 2);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT PageLocation(PageRequest& request, const VariableBytes& query, ModuleBlock* pBytes, std::uint32_t* pcb) {
    VariableBytes https, host, port, url;
    HRESULT hr;
    if (FAILED(hr = request.Variable(L"HTTPS", &https)) || FAILED(hr = request.Variable(L"HTTP_HOST", &host)) ||
        FAILED(hr = request.Variable(L"URL", &url)))
        return hr;
    const bool bSecure = SameAscii(https.text.get(), L"on");
    if (host.cb == 0) {
        // No Host: the server's own name and port.
        if (FAILED(hr = request.Variable(L"SERVER_NAME", &host)) || FAILED(hr = request.Variable(L"SERVER_PORT", &port)))
            return hr;
        if (SameAscii(port.text.get(), bSecure ? L"443" : L"80")) port.cb = 0;
    }
    Builder url8;
    // Each character may take 9 bytes percent-encoded (3 UTF-8 bytes).
    const std::size_t cchAll = SysStringLen(host.text.get()) + SysStringLen(port.text.get()) +
                               SysStringLen(url.text.get()) + SysStringLen(query.text.get());
    if (!url8.Reserve(16 + 9 * cchAll + 8)) return E_OUTOFMEMORY;
    url8.Ascii(bSecure ? "https://" : "http://");
    url8.Text(host.text.get(), SysStringLen(host.text.get()));
    if (port.cb) {
        url8.Ascii(":");
        url8.Text(port.text.get(), SysStringLen(port.text.get()));
    }
    url8.Text(url.text.get(), SysStringLen(url.text.get()));
    url8.Ascii("?");
    // The query's own pairs but any id: the new one is the only id there.
    const wchar_t* pchQuery = query.text.get();
    const UINT cchQuery = SysStringLen(query.text.get());
    for (UINT lPair = 0, i = 0; i <= cchQuery; ++i) {
        if (i < cchQuery && pchQuery[i] != L'&') continue;
        const bool bId = i - lPair >= 3 && pchQuery[lPair] == L'i' && pchQuery[lPair + 1] == L'd' &&
                         pchQuery[lPair + 2] == L'=';
        if (i > lPair && !bId) {
            url8.Text(pchQuery + lPair, i - lPair);
            url8.Ascii("&");
        }
        lPair = i + 1;
    }
    url8.Ascii("id=");
    *pcb = static_cast<std::uint32_t>(url8.m_cb);
    *pBytes = std::move(url8.m_block);
    return S_OK;
}

resumable::HeaderBytes QueryId(const unsigned char* pb, std::size_t cb) {
    for (std::size_t i = 0; i < cb; ++i)
        if (pb[i] == '?') {
            pb += i + 1;
            cb -= i + 1;
            break;
        }
    resumable::HeaderBytes found;
    int nFound = 0;
    std::size_t lPair = 0;
    for (std::size_t i = 0; i <= cb; ++i) {
        if (i < cb && pb[i] != '&' && pb[i] != '#') continue;
        const std::size_t cbPair = i - lPair;
        if (cbPair >= 3 && pb[lPair] == 'i' && pb[lPair + 1] == 'd' && pb[lPair + 2] == '=') {
            found = {pb + lPair + 3, cbPair - 3};
            ++nFound;
        }
        if (i < cb && pb[i] == '#') break;
        lPair = i + 1;
    }
    return nFound == 1 ? found : resumable::HeaderBytes{};
}

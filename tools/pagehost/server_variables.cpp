#include "server_variables.h"
#include "text_codec.h"

#include <cwchar>
#include <vector>

namespace {

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c; }

// "Upload-Offset" as "UPLOAD_OFFSET".
std::wstring VariableName(const std::string& header) {
    std::wstring name;
    for (char c : header) name += c == '-' ? L'_' : Upper(wchar_t(static_cast<unsigned char>(c)));
    return name;
}

// A header's name, ASCII as the server took it.
std::wstring Widen(const std::string& name) { return std::wstring(name.begin(), name.end()); }

bool SameText(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// The values of every line whose variable name (or, raw, header name) is
// name, joined with ", " as a server joins a header sent on several lines;
// false when there is none.
bool HeaderValue(const PageRequest& request, const std::wstring& name, bool bRaw, UINT uCodePage,
                 std::wstring& value) {
    bool bFound = false;
    for (const RequestHeader& h : request.headers) {
        const std::wstring headerName = bRaw ? Widen(h.name) : VariableName(h.name);
        if (!SameText(headerName, name)) continue;
        if (bFound) value += L", ";
        value += DecodeLoose(h.value, uCodePage);
        bFound = true;
    }
    return bFound;
}

// "HTTP_NAME:value" lines, one for each header name, in the order the names
// first came.
std::wstring AllHttp(const PageRequest& request, UINT uCodePage) {
    std::wstring all;
    std::vector<std::wstring> done;
    for (const RequestHeader& h : request.headers) {
        const std::wstring name = VariableName(h.name);
        bool bDone = false;
        for (const std::wstring& d : done) bDone = bDone || d == name;
        if (bDone) continue;
        done.push_back(name);
        std::wstring value;
        HeaderValue(request, name, false, uCodePage, value);
        all += L"HTTP_" + name + L":" + value + L"\r\n";
    }
    return all;
}

// The header lines as they came.
std::wstring AllRaw(const PageRequest& request, UINT uCodePage) {
    std::wstring all;
    for (const RequestHeader& h : request.headers)
        all += Widen(h.name) + L": " + DecodeLoose(h.value, uCodePage) + L"\r\n";
    return all;
}

// The Host header's name without its port (an IPv6 address keeps its
// brackets); the address the request came to when there is none.
std::wstring ServerName(const PageRequest& request, UINT uCodePage) {
    std::wstring host;
    if (!HeaderValue(request, L"HOST", false, uCodePage, host) || host.empty()) return request.localAddr;
    const size_t close = host[0] == L'[' ? host.find(L']') : std::wstring::npos;
    const size_t colon = host.find(L':', close == std::wstring::npos ? 0 : close);
    return host.substr(0, colon);
}

}  // namespace

std::wstring ServerVariable(const PageRequest& request, const std::wstring& name, UINT uCodePage) {
    std::wstring value;
    if (name.size() > 5 && SameText(name.substr(0, 5), L"HTTP_")) {
        HeaderValue(request, name.substr(5), false, uCodePage, value);
        return value;
    }
    if (name.size() > 7 && SameText(name.substr(0, 7), L"HEADER_")) {
        HeaderValue(request, name.substr(7), true, uCodePage, value);
        return value;
    }
    if (SameText(name, L"REQUEST_METHOD")) return request.method;
    if (SameText(name, L"CONTENT_TYPE")) return request.contentType;
    if (SameText(name, L"CONTENT_LENGTH")) return std::to_wstring(request.pBody ? request.pBody->Total() : 0);
    if (SameText(name, L"QUERY_STRING")) return request.queryString;
    if (SameText(name, L"URL") || SameText(name, L"SCRIPT_NAME") || SameText(name, L"PATH_INFO"))
        return request.url;
    if (SameText(name, L"PATH_TRANSLATED")) return request.pagePath;
    if (SameText(name, L"SERVER_NAME")) return ServerName(request, uCodePage);
    if (SameText(name, L"SERVER_PORT")) return request.serverPort;
    if (SameText(name, L"SERVER_PORT_SECURE")) return request.bHttps ? L"1" : L"0";
    if (SameText(name, L"HTTPS")) return request.bHttps ? L"on" : L"off";
    if (SameText(name, L"SERVER_PROTOCOL")) return request.protocol;
    if (SameText(name, L"REMOTE_ADDR") || SameText(name, L"REMOTE_HOST")) return request.remoteAddr;
    if (SameText(name, L"LOCAL_ADDR")) return request.localAddr;
    if (SameText(name, L"ALL_HTTP")) return AllHttp(request, uCodePage);
    if (SameText(name, L"ALL_RAW")) return AllRaw(request, uCodePage);
    return value;
}

// The three objects a classic page reaches by name: the request (its body,
// query string and server variables), the response (text and bytes, status,
// headers, content type and the character set the text goes out in), and the server
// (object creation, paths, HTML and URL encoding).
#pragma once
#include "page_request.h"
#include "script_object.h"
#include "site_paths.h"

#include <string>
#include <utility>
#include <vector>

class RequestObject : public ScriptObject {
public:
    // uCodePage reads the query string's escaped bytes, as the page's code
    // page does on a server.
    RequestObject(PageRequest request, UINT uCodePage);

protected:
    HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

private:
    HRESULT BinaryRead(const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);
    HRESULT QueryString(const ScriptArgs& args, VARIANT* pvarResult, UINT* puArgErr);

    PageRequest m_request;
    UINT m_uCodePage;
    RequestBody m_noBody;  // what a request without a body reads
};

class ResponseObject : public ScriptObject {
public:
    // Text goes out in uCodePage until the page names a character set.
    explicit ResponseObject(UINT uCodePage);

    // Text written after the page's own (an error report).
    void Append(const std::wstring& text) { m_segments.push_back({true, text, std::string()}); }
    void SetStatus(const std::wstring& status) { m_status = status; }
    const std::wstring& Status() const { return m_status; }
    // The headers the page added, in its order.
    const std::vector<std::pair<std::wstring, std::wstring>>& Headers() const { return m_headers; }
    // The Content-Type header's value.
    std::wstring ContentTypeHeader() const;
    // Everything written, the text in the response's character set.
    std::string Body() const;

protected:
    HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

private:
    HRESULT BinaryWrite(const VARIANT* pvar, EXCEPINFO* pExcepInfo);
    HRESULT AddHeader(const std::wstring& name, const std::wstring& value, EXCEPINFO* pExcepInfo);
    HRESULT TextProperty(WORD wFlags, const ScriptArgs& args, std::wstring& value, VARIANT* pvarResult,
                         UINT* puArgErr);

    struct Segment {
        bool bText;
        std::wstring text;
        std::string bytes;
    };
    std::vector<Segment> m_segments;
    UINT m_uCodePage;
    std::wstring m_status = L"200 OK";
    std::wstring m_contentType = L"text/html";
    std::wstring m_charset;
    std::vector<std::pair<std::wstring, std::wstring>> m_headers;
};

class ServerObject : public ScriptObject {
public:
    ServerObject(SitePaths site, UINT uCodePage);

protected:
    HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

private:
    HRESULT CreateObject(const std::wstring& progid, VARIANT* pvarResult, EXCEPINFO* pExcepInfo);
    HRESULT MapPath(const std::wstring& path, VARIANT* pvarResult, EXCEPINFO* pExcepInfo) const;
    HRESULT ScriptTimeout(WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                          UINT* puArgErr);

    SitePaths m_site;
    UINT m_uCodePage;
    LONG m_lScriptTimeout = 90;  // a page's default on that kind of server
};

std::wstring HtmlEncode(const std::wstring& text);

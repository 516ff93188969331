#include "page_run.h"
#include "asp_page.h"
#include "host_files.h"
#include "page_site.h"
#include "text_codec.h"

#include <cwchar>
#include <vector>

namespace {

const UINT kPageCodePage = 932;

// IActiveScriptParse32 or, in a 64-bit host, IActiveScriptParse64 (its
// source context cookie is pointer-sized): MinGW's uuid library has no symbol
// by either name, the header declares both identifiers.
const IID kIidActiveScriptParse = __uuidof(IActiveScriptParse);

// Closes the engine on every way out once it has a site: Close releases the
// site and the named items it holds.
class EngineCloser {
public:
    explicit EngineCloser(IActiveScript* pEngine) : m_pEngine(pEngine) {}
    ~EngineCloser() { m_pEngine->Close(); }
    EngineCloser(const EngineCloser&) = delete;
    EngineCloser& operator=(const EngineCloser&) = delete;

private:
    IActiveScript* m_pEngine;
};

std::wstring HexStatus(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Runs the script to its end. A failure of the host's own calls is returned
// with its reason; script errors reach the site.
HRESULT RunScript(const PageScript& script, PageSite* pSite, std::wstring& failure) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(script.language.c_str(), &clsid);
    if (FAILED(hr)) {
        failure = L"no script engine " + script.language;
        return hr;
    }
    ComPtr<IActiveScript> engine;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine.put_void());
    if (FAILED(hr)) {
        failure = L"cannot create the " + script.language + L" engine";
        return hr;
    }
    ComPtr<IActiveScriptParse> parse;
    hr = engine->QueryInterface(kIidActiveScriptParse, parse.put_void());
    if (SUCCEEDED(hr)) hr = parse->InitNew();
    if (SUCCEEDED(hr)) hr = engine->SetScriptSite(pSite);
    if (FAILED(hr)) {
        failure = L"cannot set up the " + script.language + L" engine";
        return hr;
    }
    EngineCloser closer(engine.get());
    for (UINT i = 0; i < pSite->ItemCount(); ++i) {
        hr = engine->AddNamedItem(pSite->ItemName(i), SCRIPTITEM_ISVISIBLE);
        if (FAILED(hr)) {
            failure = std::wstring(L"cannot add the named item ") + pSite->ItemName(i);
            return hr;
        }
    }
    EXCEPINFO info;
    ZeroMemory(&info, sizeof info);
    hr = parse->ParseScriptText(script.text.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (FAILED(hr)) {
        failure = L"the script does not compile";
        return hr;
    }
    hr = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (FAILED(hr)) failure = L"the script stopped";
    return hr;
}

// The page's own code page: CodePage=65001 in its directive line makes it
// UTF-8, as a server reads such a page; any other page is Shift_JIS.
UINT PageCodePage(const std::vector<BYTE>& bytes) {
    const std::string head(bytes.begin(), bytes.begin() + (bytes.size() < 200 ? bytes.size() : 200));
    const std::string firstLine = head.substr(0, head.find('\n'));
    return firstLine.find("<%@") != std::string::npos && firstLine.find("CodePage=65001") != std::string::npos
               ? CP_UTF8
               : kPageCodePage;
}

// Page text written so far stays; the error follows it as a server's error
// page shows it: the kind and code, the description, the page and line.
std::wstring ErrorSection(const std::wstring& pagePath, const ScriptFailure& f) {
    wchar_t code[16];
    swprintf(code, 16, L"%08lx", static_cast<unsigned long>(f.code));
    std::wstring name = pagePath.substr(pagePath.find_last_of(L"\\/") + 1);
    std::wstring text = L"\n<p><b>" + HtmlEncode(f.source.empty() ? L"Script error" : f.source) + L" '" + code +
                        L"'</b></p>\n<p>" + HtmlEncode(f.description) + L"</p>\n<p>/" + HtmlEncode(name) +
                        L", line " + (f.line ? std::to_wstring(f.line) : std::wstring(L"unknown")) + L"</p>\n";
    if (!f.sourceLine.empty()) text += L"<pre>" + HtmlEncode(f.sourceLine) + L"</pre>\n";
    return text;
}

}  // namespace

void FailRequest(PageResult& result, int exitStatus, const std::wstring& error) {
    result.exitStatus = exitStatus;
    result.status = L"500 Internal Server Error";
    result.contentType = L"text/html; charset=UTF-8";
    result.headers.clear();
    result.error = error;
    result.body = Utf8(L"<p>" + HtmlEncode(error) + L"</p>\n");
}

void RunPage(const PageFolders& folders, PageRequest request, PageResult& result) {
    result = PageResult();
    const std::wstring& pagePath = folders.page;
    SitePaths paths;
    std::wstring failure;
    if (!paths.Init(pagePath, folders.root, folders.uploads, failure)) return FailRequest(result, 2, failure);
    std::vector<BYTE> pageBytes;
    if (!ReadWholeFile(pagePath.c_str(), pageBytes)) return FailRequest(result, 2, L"cannot read " + pagePath);
    const UINT uCodePage = PageCodePage(pageBytes);
    std::wstring page;
    if (!Decode(reinterpret_cast<const char*>(pageBytes.data()), pageBytes.size(), uCodePage, page))
        return FailRequest(result, 2, pagePath + L" is not text in code page " + std::to_wstring(uCodePage));
    PageScript script;
    if (!TranslatePage(page, script, failure)) return FailRequest(result, 2, pagePath + L": " + failure);
    request.pagePath = pagePath;
    if (request.url.empty()) request.url = paths.PageUrl();

    ComPtr<RequestObject> requestObject;
    ComPtr<ResponseObject> response;
    ComPtr<ServerObject> server;
    requestObject.attach(new RequestObject(std::move(request), uCodePage));
    response.attach(new ResponseObject(uCodePage));
    server.attach(new ServerObject(std::move(paths), uCodePage));

    ComPtr<PageSite> site;
    site.attach(new PageSite(script));
    site->AddItem(L"Request", requestObject.get());
    site->AddItem(L"Response", response.get());
    site->AddItem(L"Server", server.get());
    HRESULT hr = RunScript(script, site.get(), failure);
    if (site->HasError()) {
        result.exitStatus = 1;
        result.error = pagePath + L": " + site->ErrorText();
        response->SetStatus(L"500 Internal Server Error");
        response->Append(ErrorSection(pagePath, site->Failure()));
    }
    site.reset();
    result.status = response->Status();
    result.contentType = response->ContentTypeHeader();
    result.headers = response->Headers();
    result.body = response->Body();
    if (result.exitStatus == 0 && FAILED(hr))
        return FailRequest(result, 2, pagePath + L": " + failure + L" (" + HexStatus(hr) + L")");

    // With the engine closed and the site gone, the page objects are ours
    // alone again; anything else means a reference was lost on the way.
    const wchar_t* names[] = {L"Request", L"Response", L"Server"};
    ULONG counts[] = {requestObject.detach()->Release(), response.detach()->Release(), server.detach()->Release()};
    for (int i = 0; i < 3; ++i) {
        if (counts[i] != 0)
            FailRequest(result, 2,
                        std::wstring(L"the ") + names[i] + L" object is still referenced after the engine closed");
    }
}


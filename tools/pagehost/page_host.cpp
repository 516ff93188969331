// pagehost runs classic pages the way a web server does, one request at a
// time, with VARO (or any registered object) at their disposal.
//
//   pagehost PAGE.asp BODYFILE UPLOADDIR OUTFILE [NAME=VALUE...]
//     one request: NAME is method (default POST), content-type (default
//     multipart/form-data with the body's own boundary) or query; the
//     response body goes to OUTFILE in the response's character set, its
//     status line and headers to stderr when it is not 200.
//     Exit status: 0 page ran, 1 script error (status 500, the error in the
//     page and on stderr with its page line), 2 the page could not be run.
//
//   pagehost --serve
//     many requests on stdin, each a block of "Name: value" lines (UTF-8)
//     ended by an empty line, then Content-Length bytes of body. Names:
//     Page, Uploads, Method, Content-Type, Query, Content-Length. Each
//     answer on stdout is "Status:", "Content-Type:", "Content-Length:" and,
//     after a failure, "Error:" lines, an empty line and the body. Ends at
//     the end of stdin (status 0) or on a request it cannot read (2).
//
// Pages are code page 932 text unless their directive says CodePage=65001.
// Server.MapPath maps into UPLOADDIR only, so a page writes nowhere else.
#include "asp_objects.h"
#include "asp_page.h"
#include "page_site.h"
#include "text_codec.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

const UINT kPageCodePage = 932;

// IActiveScriptParse32 or, in a 64-bit host, IActiveScriptParse64 (its
// source context cookie is pointer-sized): MinGW's uuid library has no symbol
// by either name, the header declares both identifiers.
const IID kIidActiveScriptParse = __uuidof(IActiveScriptParse);

class Handle {
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

class ComApartment {
public:
    ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT status() const { return m_hr; }

private:
    HRESULT m_hr;
};

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

void Report(const std::wstring& text) {
    std::string bytes = Utf8(text + L"\n");
    DWORD cbWritten = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
}

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

// What a request produced: the status line, headers and body, and for a
// log the reason it failed.
struct PageResult {
    int exitStatus = 0;  // as the one-request mode exits
    std::wstring status = L"200 OK";
    std::wstring contentType = L"text/html";
    std::string body;
    std::wstring error;
};

// Moves cb bytes in calls of at most 1 MiB: a pipe takes or gives fewer
// bytes than asked, and a DWORD holds no more than 4 GiB. False when a call
// fails or moves nothing (the end of the input).
template <typename Char, typename Call>
bool MoveAll(Char* pch, size_t cb, Call call) {
    while (cb > 0) {
        DWORD cbChunk = cb > (1u << 20) ? (1u << 20) : static_cast<DWORD>(cb);
        DWORD cbMoved = 0;
        if (!call(pch, cbChunk, &cbMoved) || cbMoved == 0) return false;
        pch += cbMoved;
        cb -= cbMoved;
    }
    return true;
}

bool ReadExact(HANDLE h, char* pch, size_t cb) {
    return MoveAll(pch, cb, [h](char* p, DWORD n, DWORD* pcb) { return ReadFile(h, p, n, pcb, nullptr); });
}

bool WriteAll(HANDLE h, const char* pch, size_t cb) {
    return MoveAll(pch, cb, [h](const char* p, DWORD n, DWORD* pcb) { return WriteFile(h, p, n, pcb, nullptr); });
}

bool ReadWholeFile(const wchar_t* pszPath, std::vector<BYTE>& bytes) {
    Handle file(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.valid()) return false;
    DWORD cbHigh = 0;
    DWORD cb = GetFileSize(file.get(), &cbHigh);
    if (cb == INVALID_FILE_SIZE || cbHigh) return false;
    bytes.resize(cb);
    return ReadExact(file.get(), reinterpret_cast<char*>(bytes.data()), cb);
}

bool WriteWholeFile(const wchar_t* pszPath, const std::string& bytes) {
    Handle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && WriteAll(file.get(), bytes.data(), bytes.size());
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

// The client sent "multipart/form-data; boundary=B" and the body's first line
// is "--B".
std::wstring FormContentType(const std::vector<BYTE>& body) {
    std::wstring type = L"multipart/form-data";
    if (body.size() < 2 || body[0] != '-' || body[1] != '-') return type;
    type += L"; boundary=";
    for (size_t i = 2; i < body.size() && body[i] != '\r' && body[i] != '\n'; ++i) type += wchar_t(body[i]);
    return type;
}

void Fail(PageResult& result, int exitStatus, const std::wstring& error) {
    result.exitStatus = exitStatus;
    result.status = L"500 Internal Server Error";
    result.contentType = L"text/html; charset=UTF-8";
    result.error = error;
    result.body = Utf8(L"<p>" + HtmlEncode(error) + L"</p>\n");
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

void RunPage(const std::wstring& pagePath, const std::wstring& uploadDir, PageRequest request, PageResult& result) {
    result = PageResult();
    std::vector<BYTE> pageBytes;
    if (!ReadWholeFile(pagePath.c_str(), pageBytes)) return Fail(result, 2, L"cannot read " + pagePath);
    const UINT uCodePage = PageCodePage(pageBytes);
    std::wstring page;
    if (!Decode(reinterpret_cast<const char*>(pageBytes.data()), pageBytes.size(), uCodePage, page))
        return Fail(result, 2, pagePath + L" is not text in code page " + std::to_wstring(uCodePage));
    PageScript script;
    std::wstring failure;
    if (!TranslatePage(page, script, failure)) return Fail(result, 2, pagePath + L": " + failure);

    ComPtr<RequestObject> requestObject;
    ComPtr<ResponseObject> response;
    ComPtr<ServerObject> server;
    requestObject.attach(new RequestObject(std::move(request), uCodePage));
    response.attach(new ResponseObject(uCodePage));
    server.attach(new ServerObject(uploadDir, uCodePage));

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
    result.body = response->Body();
    if (result.exitStatus == 0 && FAILED(hr))
        return Fail(result, 2, pagePath + L": " + failure + L" (" + HexStatus(hr) + L")");

    // With the engine closed and the site gone, the page objects are ours
    // alone again; anything else means a reference was lost on the way.
    const wchar_t* names[] = {L"Request", L"Response", L"Server"};
    ULONG counts[] = {requestObject.detach()->Release(), response.detach()->Release(), server.detach()->Release()};
    for (int i = 0; i < 3; ++i) {
        if (counts[i] != 0)
            Fail(result, 2, std::wstring(L"the ") + names[i] + L" object is still referenced after the engine closed");
    }
}

int RunOnce(int argc, wchar_t** argv) {
    std::vector<BYTE> body;
    if (!ReadWholeFile(argv[2], body)) {
        Report(std::wstring(L"cannot read ") + argv[2]);
        return 2;
    }
    PageRequest request;
    request.method = L"POST";
    request.contentType = FormContentType(body);
    request.body = std::move(body);
    for (int i = 5; i < argc; ++i) {
        std::wstring arg = argv[i];
        size_t eq = arg.find(L'=');
        std::wstring name = arg.substr(0, eq), value = eq == std::wstring::npos ? L"" : arg.substr(eq + 1);
        if (eq == std::wstring::npos) {
            Report(L"not NAME=VALUE: " + arg);
            return 2;
        } else if (lstrcmpiW(name.c_str(), L"method") == 0) {
            request.method = value;
        } else if (lstrcmpiW(name.c_str(), L"content-type") == 0) {
            request.contentType = value;
        } else if (lstrcmpiW(name.c_str(), L"query") == 0) {
            request.queryString = value;
        } else {
            Report(L"unknown request value " + name);
            return 2;
        }
    }
    PageResult result;
    RunPage(argv[1], argv[3], std::move(request), result);
    if (!result.error.empty()) Report(result.error);
    if (result.status != L"200 OK") Report(L"Status: " + result.status);
    if (!WriteWholeFile(argv[4], result.body)) {
        Report(std::wstring(L"cannot write ") + argv[4]);
        return 2;
    }
    return result.exitStatus;
}

// One line without its LF (and CR); false at the end of the input or for a
// line too long to be a request's.
bool ReadLine(HANDLE h, std::string& line) {
    line.clear();
    char c;
    while (ReadExact(h, &c, 1)) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        if (line.size() >= 65536) return false;
        line += c;
    }
    return false;
}

std::string HeaderValue(const std::wstring& text) {
    std::string value = Utf8(text);
    for (char& c : value) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return value;
}

// 0 at the end of the input, 2 on a request it cannot read.
int Serve() {
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    for (;;) {
        std::string line;
        if (!ReadLine(hIn, line)) return 0;
        PageRequest request;
        std::wstring pagePath, uploadDir;
        unsigned long long cbBody = 0;
        bool bSawLength = false;
        for (; !line.empty(); ) {
            size_t colon = line.find(':');
            if (colon == std::string::npos) {
                Report(L"pagehost: not a request line: " + FromUtf8(line));
                return 2;
            }
            std::wstring name = FromUtf8(line.substr(0, colon));
            size_t valueStart = line.find_first_not_of(' ', colon + 1);
            std::wstring value = FromUtf8(valueStart == std::string::npos ? std::string() : line.substr(valueStart));
            if (lstrcmpiW(name.c_str(), L"Page") == 0) {
                pagePath = value;
            } else if (lstrcmpiW(name.c_str(), L"Uploads") == 0) {
                uploadDir = value;
            } else if (lstrcmpiW(name.c_str(), L"Method") == 0) {
                request.method = value;
            } else if (lstrcmpiW(name.c_str(), L"Content-Type") == 0) {
                request.contentType = value;
            } else if (lstrcmpiW(name.c_str(), L"Query") == 0) {
                request.queryString = value;
            } else if (lstrcmpiW(name.c_str(), L"Content-Length") == 0) {
                wchar_t* pEnd = nullptr;
                cbBody = wcstoull(value.c_str(), &pEnd, 10);
                bSawLength = !value.empty() && pEnd && *pEnd == L'\0' && value[0] != L'-';
                if (!bSawLength) {
                    Report(L"pagehost: bad Content-Length " + value);
                    return 2;
                }
            }
            if (!ReadLine(hIn, line)) {
                Report(L"pagehost: the request ends in its header");
                return 2;
            }
        }
        // A 32-bit host holds the body in memory: what it cannot hold is
        // drained and refused rather than cut.
        PageResult result;
        const unsigned long long kMaxBody = sizeof(void*) == 4 ? (512ull << 20) : (2048ull << 20);
        bool bBodyRead = false;
        if (cbBody <= kMaxBody) {
            request.body.resize(static_cast<size_t>(cbBody));
            bBodyRead = cbBody == 0 || ReadExact(hIn, reinterpret_cast<char*>(request.body.data()), request.body.size());
            if (!bBodyRead) {
                Report(L"pagehost: the request body ends early");
                return 2;
            }
        } else {
            std::vector<char> sink(1 << 20);
            for (unsigned long long left = cbBody; left > 0;) {
                size_t cb = left > sink.size() ? sink.size() : static_cast<size_t>(left);
                if (!ReadExact(hIn, sink.data(), cb)) return 2;
                left -= cb;
            }
        }
        if (!bBodyRead) {
            Fail(result, 2, L"the request body is larger than this host can hold");
            result.status = L"413 Payload Too Large";
        } else if (pagePath.empty() || uploadDir.empty()) {
            Fail(result, 2, L"the request names no Page or no Uploads folder");
        } else {
            RunPage(pagePath, uploadDir, std::move(request), result);
        }
        std::string head = "Status: " + HeaderValue(result.status) + "\nContent-Type: " +
                           HeaderValue(result.contentType) + "\nContent-Length: " +
                           std::to_string(result.body.size()) + "\n";
        if (!result.error.empty()) head += "Error: " + HeaderValue(result.error) + "\n";
        head += "\n";
        if (!WriteAll(hOut, head.data(), head.size()) || !WriteAll(hOut, result.body.data(), result.body.size()))
            return 2;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool bServe = argc == 2 && lstrcmpW(argv[1], L"--serve") == 0;
    if (!bServe && argc < 5) {
        Report(L"usage: pagehost PAGE.asp BODYFILE UPLOADDIR OUTFILE [method=M] [content-type=T] [query=Q]\n"
               L"       pagehost --serve");
        return 2;
    }
    ComApartment apartment;
    if (FAILED(apartment.status())) {
        Report(L"CoInitializeEx failed: " + HexStatus(apartment.status()));
        return 2;
    }
    return bServe ? Serve() : RunOnce(argc, argv);
}

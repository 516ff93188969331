// asp_host PAGE.asp BODYFILE UPLOADDIR OUTFILE
//
// Runs a classic page the way a web server does for one multipart/form-data
// POST: the page (code page 932 text) becomes one script for its language's
// engine, with Request serving BODYFILE, Response collecting the output and
// Server creating objects and mapping the page's "uploads" folder to
// UPLOADDIR. The response is written to OUTFILE as UTF-8 (the console would
// garble double-byte text). Exit status: 0 when the page ran without a script
// error, 1 after a script error (reported on stderr with its page line), 2
// when the page could not be run at all.
#include "asp_objects.h"
#include "asp_page.h"
#include "page_site.h"

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

std::string Utf8(const std::wstring& text) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? cb : 0, '\0');
    if (cb > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], cb, nullptr, nullptr);
    return out;
}

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

bool ReadWholeFile(const wchar_t* pszPath, std::vector<BYTE>& bytes) {
    Handle file(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.valid()) return false;
    DWORD cbHigh = 0;
    DWORD cb = GetFileSize(file.get(), &cbHigh);
    if (cb == INVALID_FILE_SIZE || cbHigh) return false;
    bytes.resize(cb);
    DWORD cbRead = 0;
    return cb == 0 || (ReadFile(file.get(), bytes.data(), cb, &cbRead, nullptr) && cbRead == cb);
}

bool WriteWholeFile(const wchar_t* pszPath, const std::string& bytes) {
    Handle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD cbWritten = 0;
    return bytes.empty() ||
           (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr) &&
            cbWritten == bytes.size());
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

bool DecodePage(const std::vector<BYTE>& bytes, std::wstring& page) {
    page.clear();
    if (bytes.empty()) return true;
    const UINT uCodePage = PageCodePage(bytes);
    const char* pch = reinterpret_cast<const char*>(bytes.data());
    int cb = static_cast<int>(bytes.size());
    int cch = MultiByteToWideChar(uCodePage, MB_ERR_INVALID_CHARS, pch, cb, nullptr, 0);
    if (cch <= 0) return false;
    page.resize(cch);
    return MultiByteToWideChar(uCodePage, MB_ERR_INVALID_CHARS, pch, cb, &page[0], cch) == cch;
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        Report(L"usage: asp_host PAGE.asp BODYFILE UPLOADDIR OUTFILE");
        return 2;
    }
    const wchar_t* pszPage = argv[1];
    std::vector<BYTE> pageBytes;
    std::wstring page;
    if (!ReadWholeFile(pszPage, pageBytes) || !DecodePage(pageBytes, page)) {
        Report(std::wstring(L"cannot read ") + pszPage + L" as code page 932 text");
        return 2;
    }
    PageScript script;
    std::wstring failure;
    if (!TranslatePage(page, script, failure)) {
        Report(std::wstring(pszPage) + L": " + failure);
        return 2;
    }
    std::vector<BYTE> body;
    if (!ReadWholeFile(argv[2], body)) {
        Report(std::wstring(L"cannot read ") + argv[2]);
        return 2;
    }

    ComApartment apartment;
    if (FAILED(apartment.status())) {
        Report(L"CoInitializeEx failed: " + HexStatus(apartment.status()));
        return 2;
    }
    ComPtr<RequestObject> request;
    ComPtr<ResponseObject> response;
    ComPtr<ServerObject> server;
    request.attach(new RequestObject(std::move(body)));
    response.attach(new ResponseObject());
    server.attach(new ServerObject(argv[3]));

    ComPtr<PageSite> site;
    site.attach(new PageSite(script));
    site->AddItem(L"Request", request.get());
    site->AddItem(L"Response", response.get());
    site->AddItem(L"Server", server.get());
    HRESULT hr = RunScript(script, site.get(), failure);
    bool scriptError = site->HasError();
    std::wstring errorText = site->ErrorText();
    site.reset();

    int status = 0;
    if (!WriteWholeFile(argv[4], Utf8(response->Text()))) {
        Report(std::wstring(L"cannot write ") + argv[4]);
        status = 2;
    }
    if (scriptError) {
        Report(std::wstring(pszPage) + L": " + errorText);
        if (status == 0) status = 1;
    } else if (FAILED(hr)) {
        Report(std::wstring(pszPage) + L": " + failure + L" (" + HexStatus(hr) + L")");
        status = 2;
    }
    // With the engine closed and the site gone, the page objects are ours
    // alone again; anything else means a reference was lost on the way.
    const wchar_t* names[] = {L"Request", L"Response", L"Server"};
    ULONG counts[] = {request.detach()->Release(), response.detach()->Release(), server.detach()->Release()};
    for (int i = 0; i < 3; ++i) {
        if (counts[i] != 0) {
            Report(std::wstring(L"the ") + names[i] + L" object is still referenced after the engine closed");
            if (status == 0) status = 2;
        }
    }
    return status;
}

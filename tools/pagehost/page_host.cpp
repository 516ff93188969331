// pagehost runs classic pages the way a web server does, one request at a
// time, with VARO (or any registered object) at their disposal.
//
//   pagehost [--stats] PAGE.asp BODYFILE UPLOADDIR OUTFILE [NAME=VALUE...]
//     one request: NAME is method (default POST), content-type (default
//     multipart/form-data with the body's own boundary), query or root (the
//     served folder, the page's own by default); the response body goes to
//     OUTFILE in the response's character set, its status line and headers
//     to stderr when it is not 200.
//     Exit status: 0 page ran, 1 script error (status 500, the error in the
//     page and on stderr with its page line), 2 the page could not be run.
//
//   pagehost [--stats] --serve
//     many requests on stdin, each a block of "Name: value" lines (UTF-8)
//     ended by an empty line, then Content-Length bytes of body. Names:
//     Page, Root, Uploads, Method, Content-Type, Query, Content-Length, and
//     for the server variables Url (the page's virtual path), Server-Port,
//     Https (on/off), Protocol, Remote-Addr, Local-Addr and "Header: Name:
//     value" for each of the client's header lines (its bytes as sent). Each
//     answer on stdout is "Status:", "Content-Type:", "Content-Length:",
//     "Header: Name: value" for each header the page added, after a failure
//     "Error:", and "Private-Bytes:" (the process's private bytes once the
//     page is done) lines, an empty line and the body. Ends at
//     the end of stdin (status 0), on a request it cannot read (2) or after
//     answering a request whose body ends early (2).
//
// The page reads the body as a server gives it, piece by piece as it
// arrives (from BODYFILE or stdin); what it leaves unread is read past.
// --stats tells the peak working set and private bytes on stderr at exit.
//
// Pages are code page 932 text unless their directive says CodePage=65001.
// Server.MapPath maps a virtual path as a web server does (site_paths.h):
// never outside the served folder, and "uploads" into UPLOADDIR.
#include "host_files.h"
#include "memory_stats.h"
#include "page_run.h"
#include "serve_mode.h"

#include <cwchar>
#include <string>

namespace {

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

// The client sent "multipart/form-data; boundary=B" and the body's first line
// is "--B".
std::wstring FormContentType(const char* pch, size_t cb) {
    std::wstring type = L"multipart/form-data";
    if (cb < 2 || pch[0] != '-' || pch[1] != '-') return type;
    type += L"; boundary=";
    for (size_t i = 2; i < cb && pch[i] != '\r' && pch[i] != '\n'; ++i) type += wchar_t(static_cast<BYTE>(pch[i]));
    return type;
}

int RunOnce(int argc, wchar_t** argv) {
    UniqueFileHandle bodyFile(CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER cbBody;
    if (!bodyFile || !GetFileSizeEx(bodyFile.get(), &cbBody)) {
        Report(std::wstring(L"cannot read ") + argv[2]);
        return 2;
    }
    // A boundary is at most 70 characters: its line is in the first bytes.
    char first[128];
    const size_t cbFirst = ReadUpTo(bodyFile.get(), first, sizeof first);
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(bodyFile.get(), start, nullptr, FILE_BEGIN)) {
        Report(std::wstring(L"cannot read ") + argv[2]);
        return 2;
    }
    RequestBody body(bodyFile.get(), static_cast<unsigned long long>(cbBody.QuadPart));
    PageFolders folders = {argv[1], std::wstring(), argv[3]};
    PageRequest request;
    request.method = L"POST";
    request.contentType = FormContentType(first, cbFirst);
    request.pBody = &body;
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
        } else if (lstrcmpiW(name.c_str(), L"root") == 0) {
            folders.root = value;
        } else {
            Report(L"unknown request value " + name);
            return 2;
        }
    }
    PageResult result;
    RunPage(folders, std::move(request), result);
    if (!result.error.empty()) Report(result.error);
    if (result.status != L"200 OK") Report(L"Status: " + result.status);
    if (!WriteWholeFile(argv[4], result.body)) {
        Report(std::wstring(L"cannot write ") + argv[4]);
        return 2;
    }
    return result.exitStatus;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // --stats first, so the rest reads as without it.
    const bool bStats = argc > 1 && lstrcmpW(argv[1], L"--stats") == 0;
    if (bStats) {
        argv[1] = argv[0];
        --argc;
        ++argv;
    }
    const bool bServe = argc == 2 && lstrcmpW(argv[1], L"--serve") == 0;
    if (!bServe && argc < 5) {
        Report(L"usage: pagehost [--stats] PAGE.asp BODYFILE UPLOADDIR OUTFILE [method=M] [content-type=T] "
               L"[query=Q] [root=DIR]\n"
               L"       pagehost [--stats] --serve");
        return 2;
    }
    MemoryStats stats(bStats);
    ComApartment apartment;
    if (FAILED(apartment.status())) {
        wchar_t code[16];
        swprintf(code, 16, L"%08lX", static_cast<unsigned long>(apartment.status()));
        Report(std::wstring(L"CoInitializeEx failed: ") + code);
        return 2;
    }
    return bServe ? Serve() : RunOnce(argc, argv);
}

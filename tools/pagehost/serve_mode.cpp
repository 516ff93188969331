#include "serve_mode.h"
#include "host_files.h"
#include "memory_stats.h"
#include "page_run.h"
#include "text_codec.h"

#include <cwchar>
#include <string>
#include <utility>

namespace {

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

struct RequestHead {
    PageRequest request;
    PageFolders folders;
    unsigned long long cbBody = 0;
};

// "Name: value" of a client's header line, its bytes kept; false for a line
// that has no name.
bool SplitHeader(const std::string& line, RequestHeader& header) {
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos) return false;
    header.name = line.substr(0, colon);
    const size_t start = line.find_first_not_of(" \t", colon + 1);
    header.value = start == std::string::npos ? std::string() : line.substr(start);
    return true;
}

// The "Name: value" lines up to the empty one. 0 at the end of the input
// before a request, 1 for a request, 2 for one it cannot read.
int ReadHead(HANDLE hIn, RequestHead& head) {
    std::string line;
    if (!ReadLine(hIn, line)) return 0;
    for (; !line.empty();) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            Report(L"pagehost: not a request line: " + FromUtf8(line));
            return 2;
        }
        std::wstring name = FromUtf8(line.substr(0, colon));
        size_t valueStart = line.find_first_not_of(' ', colon + 1);
        const std::string rawValue = valueStart == std::string::npos ? std::string() : line.substr(valueStart);
        std::wstring value = FromUtf8(rawValue);
        if (lstrcmpiW(name.c_str(), L"Page") == 0) {
            head.folders.page = value;
        } else if (lstrcmpiW(name.c_str(), L"Root") == 0) {
            head.folders.root = value;
        } else if (lstrcmpiW(name.c_str(), L"Uploads") == 0) {
            head.folders.uploads = value;
        } else if (lstrcmpiW(name.c_str(), L"Method") == 0) {
            head.request.method = value;
        } else if (lstrcmpiW(name.c_str(), L"Content-Type") == 0) {
            head.request.contentType = value;
        } else if (lstrcmpiW(name.c_str(), L"Query") == 0) {
            head.request.queryString = value;
        } else if (lstrcmpiW(name.c_str(), L"Url") == 0) {
            head.request.url = value;
        } else if (lstrcmpiW(name.c_str(), L"Server-Port") == 0) {
            head.request.serverPort = value;
        } else if (lstrcmpiW(name.c_str(), L"Https") == 0) {
            head.request.bHttps = lstrcmpiW(value.c_str(), L"on") == 0;
        } else if (lstrcmpiW(name.c_str(), L"Protocol") == 0) {
            head.request.protocol = value;
        } else if (lstrcmpiW(name.c_str(), L"Remote-Addr") == 0) {
            head.request.remoteAddr = value;
        } else if (lstrcmpiW(name.c_str(), L"Local-Addr") == 0) {
            head.request.localAddr = value;
        } else if (lstrcmpiW(name.c_str(), L"Header") == 0) {
            // The client's bytes as they came: the page reads them in its
            // own code page.
            RequestHeader header;
            if (!SplitHeader(rawValue, header)) {
                Report(L"pagehost: not a header: " + value);
                return 2;
            }
            head.request.headers.push_back(std::move(header));
        } else if (lstrcmpiW(name.c_str(), L"Content-Length") == 0) {
            wchar_t* pEnd = nullptr;
            head.cbBody = wcstoull(value.c_str(), &pEnd, 10);
            if (value.empty() || !pEnd || *pEnd != L'\0' || value[0] == L'-' || value[0] == L'+') {
                Report(L"pagehost: bad Content-Length " + value);
                return 2;
            }
        }
        if (!ReadLine(hIn, line)) {
            Report(L"pagehost: the request ends in its header");
            return 2;
        }
    }
    return 1;
}

}  // namespace

int Serve() {
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    for (;;) {
        RequestHead head;
        const int read = ReadHead(hIn, head);
        if (read != 1) return read;
        // The page reads the body from the input as it arrives; what it
        // leaves is read past afterwards.
        RequestBody body(hIn, head.cbBody);
        head.request.pBody = &body;
        PageResult result;
        if (head.folders.page.empty() || head.folders.uploads.empty())
            FailRequest(result, 2, L"the request names no Page or no Uploads folder");
        else
            RunPage(head.folders, std::move(head.request), result);
        const bool bWhole = body.Drain();
        if (!bWhole && result.error.empty())
            result.error = L"the request body ends after " + std::to_wstring(body.Total() - body.Left()) + L" of " +
                           std::to_wstring(body.Total()) + L" bytes";

        std::string answer = "Status: " + HeaderValue(result.status) + "\nContent-Type: " +
                             HeaderValue(result.contentType) + "\nContent-Length: " +
                             std::to_string(result.body.size()) + "\n";
        for (const auto& header : result.headers)
            answer += "Header: " + HeaderValue(header.first) + ": " + HeaderValue(header.second) + "\n";
        if (!result.error.empty()) answer += "Error: " + HeaderValue(result.error) + "\n";
        // Measured once the page and its engine are gone: what the next
        // request starts from, for a client that recycles a growing host.
        SIZE_T cbPrivate;
        if (CurrentPrivateBytes(cbPrivate))
            answer += "Private-Bytes: " + std::to_string(static_cast<unsigned long long>(cbPrivate)) + "\n";
        answer += "\n";
        // A client that ended the input early may still read the answer;
        // there is no next request to read.
        if (!WriteAll(hOut, answer.data(), answer.size()) || !WriteAll(hOut, result.body.data(), result.body.size()))
            return 2;
        if (!bWhole) {
            Report(L"pagehost: the request body ends early");
            return 2;
        }
    }
}

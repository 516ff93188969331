// What a page is asked: the request as the server took it from the client
// (method, query, headers, body) and where it came in (the server's port,
// the page's own path), for the Request object and its server variables.
#pragma once
#include "request_body.h"

#include <string>
#include <vector>

// One header line as the client sent it: its name as spelled and its value's
// bytes, read in the page's code page only when a page asks for it.
struct RequestHeader {
    std::string name;
    std::string value;
};

struct PageRequest {
    std::wstring method = L"GET";
    std::wstring contentType;
    std::wstring queryString;  // without the "?"
    std::wstring url;  // the page's virtual path; empty: its path below the served folder
    std::wstring pagePath;  // the page's file, set by the host
    std::wstring serverPort = L"80";
    bool bHttps = false;
    std::wstring protocol = L"HTTP/1.1";
    std::wstring remoteAddr = L"127.0.0.1";
    std::wstring localAddr = L"127.0.0.1";
    std::vector<RequestHeader> headers;  // in the order they came
    RequestBody* pBody = nullptr;  // the caller's, for as long as the page runs
};

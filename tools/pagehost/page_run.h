// One request run through its page: the page read and turned into a script,
// the script run by its engine with Request, Response and Server, and what
// came of it.
#pragma once
#include "asp_objects.h"

#include <string>
#include <utility>
#include <vector>

// What a request produced: the status line, headers and body, and for a
// log the reason it failed.
struct PageResult {
    int exitStatus = 0;  // as the one-request mode exits
    std::wstring status = L"200 OK";
    std::wstring contentType = L"text/html";
    std::vector<std::pair<std::wstring, std::wstring>> headers;  // the page's own, as it added them
    std::string body;
    std::wstring error;
};

// The page to run and the folders its virtual paths lead to.
struct PageFolders {
    std::wstring page;
    std::wstring root;  // the served folder; empty: the page's own folder
    std::wstring uploads;
};

// The page's answer, or a failure of its own (exit status 1, a script error,
// the error after what the page wrote) or of the host (2).
void RunPage(const PageFolders& folders, PageRequest request, PageResult& result);

// Replaces the result with a failure the host reports: status 500 unless
// the caller sets another, the error as the body.
void FailRequest(PageResult& result, int exitStatus, const std::wstring& error);

// Where a page's virtual paths lead, as a web server maps them: from the
// running page's folder, or from the served root when the path begins with
// "/"; "uploads" (from any page) is a virtual folder that leads to the
// uploads folder the host was given, wherever that is.
#pragma once
#include <string>
#include <vector>

class SitePaths {
public:
    // root empty: the page's own folder. False, with the reason, when the
    // page is not inside root or a folder cannot be made full.
    bool Init(const std::wstring& pagePath, const std::wstring& root, const std::wstring& uploads,
              std::wstring& failure);
    // The physical path of a virtual one. False, with a message for the
    // page, for a path that is not virtual (a drive, a stream, a wildcard)
    // or that leads outside the served root.
    bool Map(const std::wstring& virtualPath, std::wstring& physical, std::wstring& failure) const;
    // The page's own virtual path, "/folder/page.asp" below the root.
    std::wstring PageUrl() const;

private:
    std::wstring m_root;  // full, without a trailing backslash
    std::wstring m_uploads;
    std::vector<std::wstring> m_pageFolder;  // the page's folder below root, a name each
    std::wstring m_pageName;
};

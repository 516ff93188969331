#include "site_paths.h"

#include <windows.h>

#include <cwchar>

namespace {

const wchar_t kUploads[] = L"uploads";

bool FullPath(const std::wstring& path, std::wstring& full) {
    DWORD cch = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (cch == 0) return false;
    full.assign(cch, L'\0');
    cch = GetFullPathNameW(path.c_str(), cch, &full[0], nullptr);
    if (cch == 0 || cch >= full.size()) return false;
    full.resize(cch);
    // "Z:\" keeps its backslash; a folder below it loses its last one.
    if (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return true;
}

bool SameName(const std::wstring& a, const wchar_t* b) { return lstrcmpiW(a.c_str(), b) == 0; }

// path is folder itself or a path below it.
bool IsWithin(const std::wstring& path, const std::wstring& folder) {
    if (path.size() < folder.size() || lstrcmpiW(path.substr(0, folder.size()).c_str(), folder.c_str()) != 0)
        return false;
    return path.size() == folder.size() || folder.back() == L'\\' || path[folder.size()] == L'\\';
}

std::wstring Join(const std::wstring& folder, const std::vector<std::wstring>& names, size_t first) {
    std::wstring path = folder;
    for (size_t i = first; i < names.size(); ++i) {
        if (path.back() != L'\\') path += L'\\';
        path += names[i];
    }
    return path;
}

std::wstring OutsideRoot(const std::wstring& virtualPath) {
    return L"Server.MapPath(\"" + virtualPath + L"\") leads outside the served folder; name a path inside it";
}

std::vector<std::wstring> Split(const std::wstring& path) {
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

bool SitePaths::Init(const std::wstring& pagePath, const std::wstring& root, const std::wstring& uploads,
                     std::wstring& failure) {
    std::wstring page;
    if (!FullPath(pagePath, page) || !FullPath(uploads, m_uploads)) {
        failure = L"cannot make a full path of " + pagePath + L" or " + uploads;
        return false;
    }
    const std::wstring folder = page.substr(0, page.find_last_of(L'\\'));
    if (root.empty()) {
        m_root = folder;
    } else if (!FullPath(root, m_root)) {
        failure = L"cannot make a full path of " + root;
        return false;
    }
    if (!IsWithin(folder, m_root)) {
        failure = L"the page " + pagePath + L" is not inside the served folder " + root;
        return false;
    }
    m_pageFolder = Split(folder.substr(m_root.size()));
    m_pageName = page.substr(folder.size() + 1);
    return true;
}

std::wstring SitePaths::PageUrl() const {
    std::wstring url;
    for (const std::wstring& name : m_pageFolder) url += L"/" + name;
    return url + L"/" + m_pageName;
}

bool SitePaths::Map(const std::wstring& virtualPath, std::wstring& physical, std::wstring& failure) const {
    std::wstring path = virtualPath;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
        // A drive, a stream, a wildcard or a control character has no
        // place in a virtual path.
        if (c < 0x20 || wcschr(L":*?\"<>|", c)) {
            failure = L"Server.MapPath takes a virtual path such as \"data/x.csv\" or \"/data/x.csv\", not " +
                      virtualPath;
            return false;
        }
    }
    const std::vector<std::wstring> given = Split(path);
    // A path from the root, or "uploads" from any page, starts at the root.
    const bool bFromRoot = (!path.empty() && path[0] == L'\\') || (!given.empty() && SameName(given[0], kUploads));
    std::vector<std::wstring> names = bFromRoot ? std::vector<std::wstring>() : m_pageFolder;
    for (const std::wstring& name : given) {
        if (name == L".") continue;
        if (name != L"..") {
            names.push_back(name);
        } else if (names.empty()) {
            failure = OutsideRoot(virtualPath);
            return false;
        } else {
            names.pop_back();
        }
    }
    const bool bUploads = !names.empty() && SameName(names[0], kUploads);
    const std::wstring& base = bUploads ? m_uploads : m_root;
    // The system's own reading of the result must stay where the names led
    // (it drops trailing dots and spaces, which could make ".. " a "..").
    if (!FullPath(Join(base, names, bUploads ? 1 : 0), physical) || !IsWithin(physical, base)) {
        failure = OutsideRoot(virtualPath);
        return false;
    }
    return true;
}

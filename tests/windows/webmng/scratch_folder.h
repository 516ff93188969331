// A folder under the build tree for the files one test makes, and the file
// checks the file-method tests share. Paths are wide so that the checks do
// not depend on the ANSI code page under test.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_paths.h"

inline std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// True when some handle has the file or folder open: one opened without
// sharing is then refused.
inline bool HeldOpen(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return false;
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool PutFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD cb = 0;
    BOOL bOk = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr) && cb == bytes.size();
    CloseHandle(h);
    return bOk;
}

// The file's bytes, or "<missing>" when it cannot be read.
inline std::string FileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(GetFileSize(h, nullptr), '\0');
    const DWORD cbSize = static_cast<DWORD>(bytes.size());
    DWORD cb = 0;
    if (cbSize && !(ReadFile(h, &bytes[0], cbSize, &cb, nullptr) && cb == cbSize)) bytes = "<unreadable>";
    CloseHandle(h);
    return bytes;
}

// Entry names of a folder in the order the directory search delivers them.
inline std::vector<std::wstring> SearchOrder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

// One empty folder per test program and code page run, so that runs under
// different code pages never share files.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* pszProgram) {
        const char* pszCodePage = std::getenv("VARO_CODEPAGE");
        std::string cp = pszCodePage ? pszCodePage : std::to_string(GetACP());
        m_root = Widen(BinaryPath(std::string("tests/windows/webmng/") + pszProgram + "-cp" + cp + ".scratch"));
    }

    // Starts empty, whatever an interrupted run left behind.
    bool Create() {
        std::vector<std::wstring> ignored;
        RemoveTree(m_root, ignored);
        return CreateDirectoryW(m_root.c_str(), nullptr) != FALSE;
    }

    // Removes the folder; names every entry some handle still held open.
    std::vector<std::wstring> Remove() {
        std::vector<std::wstring> held;
        RemoveTree(m_root, held);
        return held;
    }

    // The folder itself ending in a backslash, or an entry inside it.
    std::wstring Path(const std::wstring& rel = L"") const { return m_root + L"\\" + rel; }

private:
    static void RemoveTree(const std::wstring& path, std::vector<std::wstring>& held) {
        DWORD dwAttributes = GetFileAttributesW(path.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES) return;
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            for (const std::wstring& name : SearchOrder(path)) RemoveTree(path + L"\\" + name, held);
        if (HeldOpen(path)) held.push_back(path);
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path.c_str());
        else
            DeleteFileW(path.c_str());
    }

    std::wstring m_root;
};

// What the file methods share: handle owners, the one way files are opened,
// whole-buffer reads and writes, and paths in the ANSI code page.
#pragma once
#include <windows.h>

#include <cstdint>

#include "component/conversions.h"
#include "component/error_reporter.h"
#include "component/messages.h"
#include "server/module_heap.h"

// Owns a file handle for the length of a scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != INVALID_HANDLE_VALUE; }
    void Close() {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

// Owns a directory search handle for the length of a scope.
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : m_h(h) {}
    ~FindHandle() { if (m_h != INVALID_HANDLE_VALUE) FindClose(m_h); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

// Every file is opened without sharing, so nobody sees it half written or
// changes it while it is read, and with the sequential-scan hint: it is moved
// whole, front to back.
inline HANDLE OpenUnshared(const char* pszPath, DWORD dwAccess, DWORD dwDisposition) {
    return CreateFileA(pszPath, dwAccess, 0, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
}

// One WriteFile call for the whole buffer; a short write is a failure, not a
// success with a truncated file.
inline bool WriteWhole(HANDLE hFile, const void* pvBytes, DWORD cbBytes) {
    static const unsigned char kNoBytes = 0;  // an empty array may lock to a null pointer
    DWORD cbWritten = 0;
    return WriteFile(hFile, pvBytes ? pvBytes : &kNoBytes, cbBytes, &cbWritten, nullptr) && cbWritten == cbBytes;
}

// ReadWholeFile's failure: the size is unusable, the buffer cannot be had, or
// the read fails or comes back short.
constexpr std::int32_t kReadFailed = -2;

// Reads the whole open file into a new zero-filled module-heap block of
// exactly its size with one ReadFile call. Gives the size (0 or more), or
// kReadFailed.
std::int32_t ReadWholeFile(HANDLE hFile, ModuleBlock& buffer);

// The ANSI form of a path argument. A path the code page cannot spell exactly
// publishes pszRefusal (the message of the method's own failure to open or
// delete: no file was touched); without memory for it, publishes
// "作業領域メモリを確保できませんでした。". Either gives false.
inline bool ConvertPath(AnsiString& path, BSTR bstrPath, const char* pszRefusal) {
    switch (path.Convert(bstrPath)) {
    case AnsiConversion::kExact:
        return true;
    case AnsiConversion::kRefused:
        ErrorReporter(pszRefusal);
        return false;
    case AnsiConversion::kNoMemory:
        break;
    }
    ErrorReporter(Msg::kWorkMemory);
    return false;
}

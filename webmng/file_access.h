// What the file methods share: the one way files are opened,
// whole-buffer reads and writes, and paths in the ANSI code page.
#pragma once
#include <windows.h>

#include <cstdint>

#include "webmng/conversions.h"
#include "webmng/error_reporter.h"
#include "platform/module_heap.h"
#include "platform/save_target.h"
#include "platform/win32_owners.h"

// Every file is opened without sharing, so nobody sees it half written or
// changes it while it is read, and with the sequential-scan hint: it is moved
// whole, front to back. A pipe named instead never gets to act as the caller.
inline HANDLE OpenUnshared(const char* pszPath, DWORD dwAccess, DWORD dwDisposition) {
    return CreateFileA(pszPath, dwAccess, 0, nullptr, dwDisposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | kPageFileFlags, nullptr);
}

// A file to write the caller's bytes into, opened as OpenUnshared does; never
// a device (NUL, CON, COM1, ... in any folder, with any extension, a pipe),
// which would take the bytes and keep none, nor a file's stream ("x.asp::$DATA"
// writes x.asp): an invalid handle for one, as for a target that cannot be
// opened.
inline HANDLE OpenForWriting(BSTR bstrPath, const char* pszPath, DWORD dwDisposition) {
    if (NamesDevice(bstrPath) || NamesStream(bstrPath)) return INVALID_HANDLE_VALUE;
    HANDLE hFile = OpenUnshared(pszPath, GENERIC_WRITE, dwDisposition);
    if (hFile != INVALID_HANDLE_VALUE && !IsDiskFile(hFile)) {
        CloseHandle(hFile);
        return INVALID_HANDLE_VALUE;
    }
    return hFile;
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
inline bool ConvertPath(AnsiString& path, BSTR bstrPath, const wchar_t* pszRefusal) {
    switch (path.Convert(bstrPath)) {
    case AnsiConversion::kExact:
        return true;
    case AnsiConversion::kRefused:
        ReportError(pszRefusal);
        return false;
    case AnsiConversion::kNoMemory:
        break;
    }
    ReportError(Msg::kWorkMemory);
    return false;
}

// Saving an uploaded file's bytes on the server. A file appears under its
// final name only whole: its bytes go to a file beside it under a
// server-made name ("varo-<guid>.tmp", hidden and removed when its
// handle closes, also when the process is killed), which then takes the
// final name by one rename.
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/file_by_handle.h"
#include "platform/module_heap.h"
#include "platform/save_target.h"
#include "platform/win32_owners.h"

// A save target that is no file on disk (a device, a pipe): nothing was
// written to it and nothing is deleted there. Bit 29 marks an application's
// own code.
constexpr DWORD kErrorSaveTargetDevice = 0xE0000001u;
// A save target that names a stream of a file ("a.txt:x", "x.asp::$DATA").
constexpr DWORD kErrorSaveTargetStream = 0xE0000002u;
// The saved file that held an upload's bytes was changed or replaced before
// the file object could hold it again.
constexpr DWORD kErrorSavedFileChanged = 0xE0000003u;

// The path a page's save target stands for, as both ways of saving use it:
// a \\?\ path as it is (refused with ERROR_BAD_PATHNAME when it holds "." or
// ".." components, which the system would resolve on one way and not the
// other), any other made full. A path naming a device is refused with
// kErrorSaveTargetDevice, one naming a stream with kErrorSaveTargetStream.
// ERROR_SUCCESS with the path in *pFull (wchar_t[]).
DWORD SaveTargetPath(const wchar_t* pszPath, ModuleBlock* pFull);

// A copy of a path in a new module-heap block (null without memory).
ModuleBlock PathCopy(const wchar_t* pszPath);

// What a file being saved carries until it has its name: hidden (the mark a
// leftover is known by; every system keeps it) and temporary (the system
// need not hurry its bytes to disk).
constexpr DWORD kUnplacedFileAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY;

// The length of a full path's folder: up to its last separator.
UINT FolderLength(const wchar_t* pszFullPath);

// A new path beside pszFullPath (in its folder, under a server-made name)
// for a file that is to take its place; null without memory.
BSTR SiblingPath(const wchar_t* pszFullPath);

// Gives the finished file open as hFile (marked for deletion, DELETE access)
// the name pszFullPath, never replacing a file there (ERROR_FILE_EXISTS)
// unless bReplace. On a failure it is marked for deletion again.
DWORD PlaceFinishedFile(HANDLE hFile, const wchar_t* pszFullPath, bool bReplace);

// Opens a new file beside pszFullPath for writing (no sharing, marked for
// deletion, temporary); its path in *pSibling. ERROR_SUCCESS or why not.
DWORD CreateSibling(const wchar_t* pszFullPath, UniqueBstr* pSibling, UniqueFileHandle* pFile);

// Writes cbBytes to the file at pszPath (wide: no code page stands between
// the caller's name and the file; see SaveTargetPath), in pieces of at most
// cbMaxPiece bytes that piece(cbDone, cbPiece, &pb) supplies (ERROR_SUCCESS,
// or the error that ends the save), through a file beside it: a new file
// only (ERROR_FILE_EXISTS) unless bReplace, which replaces a file there in
// one step. A failure leaves no file of ours behind and a file that was
// there as it was. ERROR_SUCCESS or the system's error code.
template <class Piece>
DWORD WriteThroughSibling(const wchar_t* pszPath, bool bReplace, std::uint64_t cbBytes, DWORD cbMaxPiece,
                          Piece piece) {
    // A taken name is refused before any byte is written.
    if (!bReplace && GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES) return ERROR_FILE_EXISTS;
    UniqueBstr sibling;
    UniqueFileHandle file;
    DWORD dwError = CreateSibling(pszPath, &sibling, &file);
    for (std::uint64_t cbDone = 0; cbDone < cbBytes && dwError == ERROR_SUCCESS;) {
        const DWORD cbPiece = cbBytes - cbDone < cbMaxPiece ? static_cast<DWORD>(cbBytes - cbDone) : cbMaxPiece;
        const unsigned char* pb = nullptr;
        DWORD cbWritten = 0;
        dwError = piece(cbDone, cbPiece, &pb);
        if (dwError == ERROR_SUCCESS && !WriteFile(file.get(), pb, cbPiece, &cbWritten, nullptr))
            dwError = GetLastError();
        else if (dwError == ERROR_SUCCESS && cbWritten != cbPiece)
            dwError = ERROR_WRITE_FAULT;
        cbDone += cbPiece;
    }
    // Closing a file that was not placed removes it.
    return dwError == ERROR_SUCCESS ? PlaceFinishedFile(file.get(), pszPath, bReplace) : dwError;
}

// The bytes in memory to the file at pszPath, as WriteThroughSibling.
DWORD SaveBytes(const wchar_t* pszPath, bool bReplace, const unsigned char* pbBytes, std::uint64_t cbBytes);

// A new path in a folder under a name the server makes: the folder's cch
// characters, a '\\' unless it ends in one (or '/'), the prefix, a new GUID
// (36 lower-case hex digits with hyphens), '.' and the extension. Null when
// no GUID or no memory can be had.
BSTR ServerMadePath(const wchar_t* pchFolder, UINT cchFolder, const wchar_t* pszPrefix, const wchar_t* pszExtension);

// The extension an uploaded file keeps under a server-made name: one of a
// few harmless ones, lower case, else "bin".
const wchar_t* HarmlessExtension(const wchar_t* pszExtension);

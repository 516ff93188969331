// Saving an uploaded file's bytes on the server.
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/module_heap.h"
#include "platform/save_target.h"
#include "platform/win32_owners.h"

// A save target that is no file on disk (a device): nothing was written to
// it and nothing is deleted there. Bit 29 marks an application's own code.
constexpr DWORD kErrorSaveTargetDevice = 0xE0000001u;

// The path a page's save target stands for, as both ways of saving use it:
// a \\?\ path as it is (refused with ERROR_BAD_PATHNAME when it holds "." or
// ".." components, which the system would resolve on one way and not the
// other), any other made full. A path naming a device is refused with
// kErrorSaveTargetDevice. ERROR_SUCCESS with the path in *pFull (wchar_t[]).
DWORD SaveTargetPath(const wchar_t* pszPath, ModuleBlock* pFull);

// A copy of a path in a new module-heap block (null without memory).
ModuleBlock PathCopy(const wchar_t* pszPath);

// Writes cbBytes to a new file at pszPath (wide: no code page stands between
// the caller's name and the file; see SaveTargetPath), in pieces of at most cbPiece bytes that
// piece(cbDone, cbPiece, &pb) supplies (ERROR_SUCCESS, or the error that
// ends the save). Never replaces a file; a file it made and could not fill
// is removed again. ERROR_SUCCESS or the system's error code.
template <class Piece>
DWORD WriteNewFile(const wchar_t* pszPath, std::uint64_t cbBytes, DWORD cbMaxPiece, Piece piece) {
    UniqueFileHandle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    if (!IsDiskFile(file.get())) return kErrorSaveTargetDevice;  // opened, not made: nothing to delete
    DWORD dwError = ERROR_SUCCESS;
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
    if (dwError != ERROR_SUCCESS) {
        // The file is ours (made new above): a partial one would pass for the upload.
        file.reset();
        DeleteFileW(pszPath);
    }
    return dwError;
}

// A new path beside pszFullPath (in its folder, under a server-made name)
// for a file that is to take its place; null without memory.
BSTR SiblingPath(const wchar_t* pszFullPath);

// Puts the finished file at pszSibling in the place of pszFullPath in one
// step, replacing a file there. On a failure the sibling is removed and a
// file at pszFullPath stays as it was.
DWORD ReplaceWithSibling(const wchar_t* pszSibling, const wchar_t* pszFullPath);

// A file written anew by write(pszSibling) beside pszFullPath, then put in
// its place: a failure anywhere leaves the file there whole.
template <class Write>
DWORD ReplaceThroughSibling(const wchar_t* pszFullPath, Write write) {
    UniqueBstr sibling(SiblingPath(pszFullPath));
    if (!sibling) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD dwError = write(static_cast<const wchar_t*>(sibling.get()));
    return dwError == ERROR_SUCCESS ? ReplaceWithSibling(sibling.get(), pszFullPath) : dwError;
}

// The bytes in memory to a new file, as WriteNewFile.
DWORD SaveNewFile(const wchar_t* pszPath, const unsigned char* pbBytes, std::uint64_t cbBytes);

// A new path in a folder under a name the server makes: the folder's cch
// characters, a '\\' unless it ends in one (or '/'), the prefix, a new GUID
// (36 lower-case hex digits with hyphens), '.' and the extension. Null when
// no GUID or no memory can be had.
BSTR ServerMadePath(const wchar_t* pchFolder, UINT cchFolder, const wchar_t* pszPrefix, const wchar_t* pszExtension);

// The extension an uploaded file keeps under a server-made name: one of a
// few harmless ones, lower case, else "bin".
const wchar_t* HarmlessExtension(const wchar_t* pszExtension);

// Saving an uploaded file's bytes on the server.
#pragma once
#include <windows.h>

#include <cstdint>

// Writes the bytes to a new file at pszPath (wide: no code page stands
// between the caller's name and the file). Never replaces a file; a file it
// made and could not fill is removed again. ERROR_SUCCESS or the system's
// error code.
DWORD SaveNewFile(const wchar_t* pszPath, const unsigned char* pbBytes, std::uint64_t cbBytes);

// The extension an uploaded file keeps under a server-made name: one of a
// few harmless ones, lower case, else "bin".
const wchar_t* HarmlessExtension(const wchar_t* pszExtension);

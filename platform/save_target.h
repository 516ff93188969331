// What a path that a page gives as a place to write names: a file on disk, or
// something else that would swallow the bytes (a device such as NUL, CON or
// COM1: the system opens one for any such name in any folder, with or
// without an extension, and a write to it "succeeds").
#pragma once
#include <windows.h>

// Whether a component of the path is a reserved device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9 and their superscript-digit forms, CONIN$, CONOUT$; a
// component's name is what stands before its first '.' or ':', trailing
// spaces dropped), or the path is in the device namespace (\\.\).
bool NamesDevice(const wchar_t* pszPath);

// Whether an open handle is a file on disk (not a device, pipe or console).
inline bool IsDiskFile(HANDLE hFile) { return GetFileType(hFile) == FILE_TYPE_DISK; }

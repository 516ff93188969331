// What a path that a page gives as a place to write names: a file on disk, or
// something else that would swallow the bytes or change what is written (a
// device such as NUL, CON or COM1: the system opens one for any such name in
// any folder, with or without an extension, and a write to it "succeeds"; a
// pipe, whose server could take on the caller's identity; a stream of a file,
// which "x.asp::$DATA" names as x.asp itself).
#pragma once
#include <windows.h>

// Whether a component of the path is a reserved device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9 and their superscript-digit forms, CONIN$, CONOUT$; a
// component's name is what stands before its first '.' or ':', trailing
// spaces dropped), or the path is in another namespace than files on disk:
// \\.\ and \??\ paths, \\?\ paths other than \\?\X:\ and \\?\UNC\, and the
// pipe and mailslot shares (\\host\pipe\, \\?\UNC\host\mailslot\).
bool NamesDevice(const wchar_t* pszPath);

// Whether the path names a file's stream: a ':' other than the one after a
// drive letter (C:\ or \\?\C:\).
bool NamesStream(const wchar_t* pszPath);

// What a file a page names is opened with besides its own flags: a pipe at
// the other end never acts as the caller (anonymous impersonation level).
constexpr DWORD kPageFileFlags = SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS;

// Whether an open handle is a file on disk (not a device, pipe or console).
inline bool IsDiskFile(HANDLE hFile) { return GetFileType(hFile) == FILE_TYPE_DISK; }

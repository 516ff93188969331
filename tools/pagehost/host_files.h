// The host's own reading and writing: files and the pipes of --serve mode.
#pragma once
#include <windows.h>

#include "platform/win32_owners.h"

#include <string>
#include <vector>

// As many of cb bytes as the input gives before it ends or fails (a pipe
// gives fewer bytes per call than asked).
size_t ReadUpTo(HANDLE h, char* pch, size_t cb);
bool ReadExact(HANDLE h, char* pch, size_t cb);
bool WriteAll(HANDLE h, const char* pch, size_t cb);

bool ReadWholeFile(const wchar_t* pszPath, std::vector<BYTE>& bytes);
bool WriteWholeFile(const wchar_t* pszPath, const std::string& bytes);

// Diagnostics on stderr, one line each, in UTF-8.
void Report(const std::wstring& text);

// Changes to a file made through a handle the caller holds, not through its
// name: nobody can swap another file in under the name between two steps.
#pragma once
#include <windows.h>

// Whether the file is removed when its last handle closes (the handle needs
// DELETE access). ERROR_SUCCESS or the system's error code.
DWORD MarkForDeletion(HANDLE hFile, bool bDelete);

// Gives the open file the new full path, never replacing a file there
// (ERROR_ALREADY_EXISTS / ERROR_FILE_EXISTS) unless bReplace, which replaces
// it in one step; across volumes the system refuses with
// ERROR_NOT_SAME_DEVICE. The handle needs DELETE access.
DWORD RenameOpenFile(HANDLE hFile, const wchar_t* pszNewPath, bool bReplace = false);

// Sets the open file's attributes (FILE_ATTRIBUTE_NORMAL clears the others).
DWORD SetOpenFileAttributes(HANDLE hFile, DWORD dwAttributes);

// What a worker killed at the wrong moment leaves: a whole file under a
// server-made name ("varo-<guid>.tmp", still hidden) beside the
// file it was to become, or in the temporary folder, once the mark that
// removes it on close was cleared and before the rename that names it. Such
// a file is removed by the next load or save that uses its folder. A file of
// that name and mark that is open is some worker's at work (they are never
// shared) and stays; a page's own files never carry both.
#pragma once
#include <windows.h>

// Removes the leftovers in the folder (with or without its trailing
// separator). A folder is looked through at most once a minute per process.
void SweepLeftovers(const wchar_t* pchFolder, UINT cchFolder);

// The same for the folder of a full path.
void SweepLeftoversBeside(const wchar_t* pszFullPath);

// Whether a file name is one that leftovers carry.
bool IsLeftoverName(const wchar_t* pszName);

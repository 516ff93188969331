// The ended uploads' sections this process keeps open: a named section lives
// only while a handle to it is open, so without them an upload's record
// would go with its writer, before the page that polls it saw the end.
// Each is kept for the retention time after its upload ended and closed by
// a later call of the writer, the reader or DllCanUnloadNow once that time
// has passed. At most kMaxKeptRecords are kept: at the cap the one whose
// time ends first is closed to make room. While any is kept the module stays
// locked, so the DLL, and the records with it, are not unloaded early; at
// detach every one is closed.
#pragma once
#include <windows.h>

constexpr DWORD kmsDefaultProgressRetention = 5 * 60 * 1000;

// 0: an ended upload's record goes with its writer.
void SetProgressRetention(DWORD dwMilliseconds);
DWORD ProgressRetention();

// Takes hSection over (closed at once when it cannot be kept).
void KeepEndedProgress(const char16_t* pszSectionName, HANDLE hSection);
void SweepEndedProgress();
DWORD KeptProgressCount();

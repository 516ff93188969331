// Whether a store folder is due for its sweep: at most once a minute per
// folder and process, so that Handle sweeps now and then at little cost.
#pragma once
#include <windows.h>

// True when due; the folder then counts as swept from now.
bool SweepDue(const wchar_t* pchFolder, UINT cchFolder);

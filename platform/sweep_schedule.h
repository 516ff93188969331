// When a folder is due for a sweep of what it should not keep: at most once
// a minute per folder and process, so that the requests that sweep (a save,
// a resumable upload's answer) do it now and then at little cost. Each kind
// of sweep keeps a schedule of its own.
#pragma once
#include <windows.h>

#include <cstdint>

class SweepSchedule {
public:
    // True when due; the folder then counts as swept from now. Folders are
    // told apart by their path without case, separators alike, trailing
    // ones dropped.
    bool Due(const wchar_t* pchFolder, UINT cchFolder);

private:
    static constexpr DWORD kmsBetweenSweeps = 60 * 1000;
    static constexpr int kFolders = 16;
    struct Swept {
        std::uint64_t hash;
        DWORD dwTick;
    };
    LONG volatile m_lLock = 0;  // a spin lock: held for a few compares, and needs no setting up
    Swept m_swept[kFolders] = {};
};

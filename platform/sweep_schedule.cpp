#include "platform/sweep_schedule.h"

namespace {

std::uint64_t FolderHash(const wchar_t* pch, UINT cch) {
    while (cch > 0 && (pch[cch - 1] == L'\\' || pch[cch - 1] == L'/')) --cch;
    std::uint64_t hash = 14695981039346656037ull;
    for (UINT i = 0; i < cch; ++i) {
        wchar_t ch = pch[i] == L'/' ? L'\\' : pch[i];
        if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - L'a' + L'A');
        hash = (hash ^ static_cast<std::uint16_t>(ch)) * 1099511628211ull;
    }
    return hash;
}

}  // namespace

bool SweepSchedule::Due(const wchar_t* pchFolder, UINT cchFolder) {
    const std::uint64_t hash = FolderHash(pchFolder, cchFolder);
    const DWORD dwNow = GetTickCount();
    while (InterlockedExchange(&m_lLock, 1) != 0) Sleep(0);
    int iOldest = 0;
    bool bDue = true;
    for (int i = 0; i < kFolders; ++i) {
        if (m_swept[i].hash == hash && m_swept[i].dwTick != 0) {
            bDue = dwNow - m_swept[i].dwTick >= kmsBetweenSweeps;
            iOldest = i;
            break;
        }
        if (m_swept[i].dwTick == 0 || dwNow - m_swept[i].dwTick > dwNow - m_swept[iOldest].dwTick) iOldest = i;
    }
    if (bDue) m_swept[iOldest] = Swept{hash, dwNow ? dwNow : 1};
    InterlockedExchange(&m_lLock, 0);
    return bDue;
}

#include "tus/sweep_due.h"

#include <cstdint>

namespace {

constexpr DWORD kmsBetweenSweeps = 60 * 1000;
constexpr int kSweptFolders = 16;

struct Swept {
    std::uint64_t hash;
    DWORD dwTick;
};
LONG volatile g_lSweptLock = 0;  // a spin lock: held for a few compares, and needs no setting up
Swept g_swept[kSweptFolders];

// The folder's path in upper case, separators alike, trailing ones dropped.
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

bool SweepDue(const wchar_t* pchFolder, UINT cchFolder) {
    const std::uint64_t hash = FolderHash(pchFolder, cchFolder);
    const DWORD dwNow = GetTickCount();
    while (InterlockedExchange(&g_lSweptLock, 1) != 0) Sleep(0);
    int iOldest = 0;
    bool bDue = true;
    for (int i = 0; i < kSweptFolders; ++i) {
        if (g_swept[i].hash == hash && g_swept[i].dwTick != 0) {
            bDue = dwNow - g_swept[i].dwTick >= kmsBetweenSweeps;
            iOldest = i;
            break;
        }
        if (g_swept[i].dwTick == 0 || dwNow - g_swept[i].dwTick > dwNow - g_swept[iOldest].dwTick) iOldest = i;
    }
    if (bDue) g_swept[iOldest] = Swept{hash, dwNow ? dwNow : 1};
    InterlockedExchange(&g_lSweptLock, 0);
    return bDue;
}

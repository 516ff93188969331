#include "progress/progress_keeper.h"

#include <cstdint>
#include <new>

#include "platform/module_state.h"
#include "progress/kept_entries.h"

namespace {
LONG g_lLock = 0;
LONG g_lRetention = kmsDefaultProgressRetention;
LONG g_lCount = 0;  // the entries, readable without the lock
// The rest under the lock. The entries are made on first use and never by a
// static constructor or destructor: at detach the module heap they live in
// is gone before the C runtime's destructors run.
bool g_bCleanupAdded = false;
bool g_bHoldsModule = false;
KeptEntries* g_pEntries = nullptr;
alignas(KeptEntries) unsigned char g_abEntries[sizeof(KeptEntries)];

void CloseKept(std::uintptr_t hEntry) { CloseHandle(reinterpret_cast<HANDLE>(hEntry)); }

// Held for a few instructions and handle closes at most: a spin lock needs
// no set-up, so it works before and after the module's own locks exist.
class KeeperLock {
public:
    KeeperLock() {
        while (InterlockedCompareExchange(&g_lLock, 1, 0) != 0) Sleep(0);
    }
    ~KeeperLock() { InterlockedExchange(&g_lLock, 0); }
    KeeperLock(const KeeperLock&) = delete;
    KeeperLock& operator=(const KeeperLock&) = delete;
};

void ReleaseAllKept(DWORD_PTR) {
    // At process exit a thread the system ended may have held the lock; the
    // system closes the handles then.
    if (InterlockedCompareExchange(&g_lLock, 1, 0) != 0) return;
    if (g_pEntries) {
        g_pEntries->~KeptEntries();
        g_pEntries = nullptr;
    }
    g_bCleanupAdded = false;
    g_bHoldsModule = false;
    InterlockedExchange(&g_lCount, 0);
    InterlockedExchange(&g_lLock, 0);
}

// Under the lock.
bool EntriesReady() {
    if (!g_bCleanupAdded) {
        if (FAILED(AddCleanup(ReleaseAllKept, 0))) return false;
        g_bCleanupAdded = true;
        SetUnloadSweep(SweepEndedProgress);
    }
    if (!g_pEntries) g_pEntries = new (g_abEntries) KeptEntries(CloseKept);
    return true;
}

// Under the lock: the module is locked exactly while entries are kept.
void EntriesChanged() {
    const DWORD dwCount = g_pEntries ? g_pEntries->Count() : 0;
    if (dwCount > 0 && !g_bHoldsModule) LockModule();
    if (dwCount == 0 && g_bHoldsModule) UnlockModule();
    g_bHoldsModule = dwCount > 0;
    InterlockedExchange(&g_lCount, static_cast<LONG>(dwCount));
}
}  // namespace

void SetProgressRetention(DWORD dwMilliseconds) {
    InterlockedExchange(&g_lRetention, static_cast<LONG>(dwMilliseconds > kmsMaxRetention ? kmsMaxRetention : dwMilliseconds));
}

DWORD ProgressRetention() { return static_cast<DWORD>(InterlockedCompareExchange(&g_lRetention, 0, 0)); }

void KeepEndedProgress(const char16_t* pszSectionName, HANDLE hSection) {
    const DWORD dwRetention = ProgressRetention();
    KeeperLock lock;
    if (!EntriesReady()) {
        CloseHandle(hSection);
        return;
    }
    const DWORD dwNow = GetTickCount();
    g_pEntries->Sweep(dwNow);
    g_pEntries->Keep(pszSectionName, reinterpret_cast<std::uintptr_t>(hSection), dwNow, dwRetention);
    EntriesChanged();
}

void SweepEndedProgress() {
    if (KeptProgressCount() == 0) return;
    KeeperLock lock;
    if (!g_pEntries) return;
    g_pEntries->Sweep(GetTickCount());
    EntriesChanged();
}

DWORD KeptProgressCount() { return static_cast<DWORD>(InterlockedCompareExchange(&g_lCount, 0, 0)); }

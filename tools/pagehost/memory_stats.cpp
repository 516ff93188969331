#include "memory_stats.h"
#include "host_files.h"

#include <psapi.h>

#include <cwchar>
#include <string>

namespace {

// Wine reports the current private bytes as their peak, so the peak is also
// taken from samples this often.
const DWORD kSampleMilliseconds = 5;

bool Counters(PROCESS_MEMORY_COUNTERS& counters) {
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) != FALSE;
}

std::wstring Size(SIZE_T cb) {
    wchar_t text[64];
    swprintf(text, 64, L"%.1f MiB (%llu bytes)", static_cast<double>(cb) / (1024.0 * 1024.0),
             static_cast<unsigned long long>(cb));
    return text;
}

}  // namespace

bool CurrentPrivateBytes(SIZE_T& cb) {
    PROCESS_MEMORY_COUNTERS counters;
    if (!Counters(counters)) return false;
    cb = counters.PagefileUsage;
    return true;
}

MemoryStats::MemoryStats(bool bEnabled) {
    if (!bEnabled) return;
    Sample();
    m_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_hStop) m_hThread = CreateThread(nullptr, 64 * 1024, Watch, this, 0, nullptr);
    if (!m_hThread) Report(L"pagehost: --stats samples no peak private bytes (no thread)");
}

MemoryStats::~MemoryStats() {
    if (!m_hStop) return;
    if (m_hThread) {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    CloseHandle(m_hStop);
    Sample();
    PROCESS_MEMORY_COUNTERS counters;
    if (!Counters(counters)) {
        Report(L"pagehost: GetProcessMemoryInfo failed");
        return;
    }
    Report(L"pagehost: peak working set " + Size(counters.PeakWorkingSetSize) + L", peak private bytes " +
           Size(m_cbPeakPrivate));
}

DWORD WINAPI MemoryStats::Watch(void* pv) {
    MemoryStats* pStats = static_cast<MemoryStats*>(pv);
    while (WaitForSingleObject(pStats->m_hStop, kSampleMilliseconds) == WAIT_TIMEOUT) pStats->Sample();
    return 0;
}

// Private bytes are the commit charge (PagefileUsage); Windows keeps their
// peak itself.
void MemoryStats::Sample() {
    PROCESS_MEMORY_COUNTERS counters;
    if (!Counters(counters)) return;
    SIZE_T cb = counters.PeakPagefileUsage > counters.PagefileUsage ? counters.PeakPagefileUsage
                                                                    : counters.PagefileUsage;
    if (cb > m_cbPeakPrivate) m_cbPeakPrivate = cb;
}

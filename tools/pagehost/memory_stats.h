// pagehost --stats: the process's peak memory, told on stderr at exit, for
// the benchmarks that show how little a streamed upload takes.
#pragma once
#include <windows.h>

class MemoryStats {
public:
    // Watches only when enabled.
    explicit MemoryStats(bool bEnabled);
    // Stops watching and reports.
    ~MemoryStats();
    MemoryStats(const MemoryStats&) = delete;
    MemoryStats& operator=(const MemoryStats&) = delete;

private:
    static DWORD WINAPI Watch(void* pv);
    void Sample();

    HANDLE m_hStop = nullptr;
    HANDLE m_hThread = nullptr;
    SIZE_T m_cbPeakPrivate = 0;  // written by the watching thread while it runs
};

// pagehost --stats: the process's peak memory, told on stderr at exit, for
// the benchmarks that show how little a streamed upload takes; and the
// private bytes of now, which --serve tells after each request so that its
// client can recycle a host that grows.
#pragma once
#include <windows.h>

// The process's private bytes (commit charge) now; false when the system
// cannot tell.
bool CurrentPrivateBytes(SIZE_T& cb);

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

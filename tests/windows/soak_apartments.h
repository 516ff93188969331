// Long runs of VARO.DLL as a busy server uses it: several apartments calling
// at once, the process's resources counted once every apartment has warmed
// up and again after the long rounds. Nothing may accumulate in between.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "dll_client.h"
#include "heap_walk.h"
#include "test_paths.h"

// The request bodies real clients sent, as a soak calls over them.
inline std::vector<std::string> CapturedBodies() {
    std::vector<std::string> bodies;
    for (const char* name : {"chromium-form.bin", "firefox-form.bin", "curl-form.bin", "chromium-sjis.bin",
                             "firefox-sjis.bin"}) {
        std::ifstream in(SourcePath(std::string("tests/fixtures/requests/") + name), std::ios::binary);
        bodies.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return bodies;
}

// A soak runs in an apartment of its own with VARO registered.
class SoakFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_apartment.status());
        ASSERT_EQ(S_OK, m_registered.status());
    }

    ComApartment m_apartment;
    RegisteredServer m_registered;
};

// What a leak would make grow.
struct ResourceCounts {
    long lModuleBlocks = 0;   // the DLL's own heap
    long lProcessBlocks = 0;  // the process heap
    DWORD dwHandles = 0;      // as the system counts them (0 under Wine, whatever is open)
    long lProbedHandles = 0;  // handles found by asking the handle table about each value
};

inline ResourceCounts CountResources(const VaroDll& dll) {
    ResourceCounts counts;
    counts.lModuleBlocks = dll.BusyBlocks();
    counts.lProcessBlocks = HeapBusyBlocks(GetProcessHeap());
    GetProcessHandleCount(GetCurrentProcess(), &counts.dwHandles);
    for (ULONG_PTR value = 4; value < (1u << 16); value += 4) {
        DWORD dwFlags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &dwFlags)) ++counts.lProbedHandles;
    }
    return counts;
}

// Freed strings go back to the heap at once instead of into the system's
// string cache, whose fill depends on how the threads interleaved: with it the
// process heap's count wanders by a few blocks from one count to the next.
// Not declared by every SDK's headers, hence looked up.
inline void DisableStringCache() {
    using SetOaNoCacheFn = void(WINAPI*)();
    if (HMODULE hOleAut = GetModuleHandleW(L"oleaut32.dll"))
        if (auto pfn = reinterpret_cast<SetOaNoCacheFn>(GetProcAddress(hOleAut, "SetOaNoCache"))) pfn();
}

// One apartment's part: warmUp, then (after the first count) rest, then
// (after the second count) finish, each on the apartment's own thread.
struct SoakApartment {
    std::function<void()> warmUp, rest, finish;
};

// The counts taken after every apartment's warm-up and after the rounds.
struct SoakCounts {
    bool bCompleted = false;  // every apartment got through in time
    ResourceCounts before, after;
};

struct SoakThread {
    SoakApartment* pWork;
    HANDLE hWarm, hGoOn, hDone, hExit;

    static DWORD WINAPI Run(void* pv) {
        SoakThread& t = *static_cast<SoakThread*>(pv);
        ComApartment apartment(COINIT_APARTMENTTHREADED);
        t.pWork->warmUp();
        SetEvent(t.hWarm);
        WaitForSingleObject(t.hGoOn, INFINITE);
        t.pWork->rest();
        SetEvent(t.hDone);
        WaitForSingleObject(t.hExit, INFINITE);
        t.pWork->finish();
        return 0;
    }
};

inline SoakCounts RunSoakApartments(const VaroDll& dll, std::vector<SoakApartment>& apartments) {
    using Thread = SoakThread;
    const DWORD n = static_cast<DWORD>(apartments.size());
    HANDLE hGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE hExit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<Thread> work(n);
    std::vector<HANDLE> threads, warm, done;
    for (DWORD i = 0; i < n; ++i) {
        work[i] = Thread{&apartments[i], CreateEventA(nullptr, TRUE, FALSE, nullptr), hGoOn,
                         CreateEventA(nullptr, TRUE, FALSE, nullptr), hExit};
        warm.push_back(work[i].hWarm);
        done.push_back(work[i].hDone);
    }
    for (Thread& t : work) threads.push_back(CreateThread(nullptr, 0, &Thread::Run, &t, 0, nullptr));
    SoakCounts counts;
    if (WaitForMultipleObjects(n, warm.data(), TRUE, 120000) == WAIT_OBJECT_0) {
        CountResources(dll);  // the counting itself may allocate once
        counts.before = CountResources(dll);
        SetEvent(hGoOn);
        if (WaitForMultipleObjects(n, done.data(), TRUE, 600000) == WAIT_OBJECT_0) {
            counts.after = CountResources(dll);
            counts.bCompleted = true;
        }
    }
    // Whatever happened, every thread is let through to its end.
    SetEvent(hGoOn);
    SetEvent(hExit);
    WaitForMultipleObjects(n, threads.data(), TRUE, 60000);
    for (HANDLE h : threads) CloseHandle(h);
    for (HANDLE h : warm) CloseHandle(h);
    for (HANDLE h : done) CloseHandle(h);
    CloseHandle(hGoOn);
    CloseHandle(hExit);
    return counts;
}

// Nothing accumulated between the two counts: the DLL's heap and the handles
// exactly, the process heap within the few blocks the system's own libraries
// keep or give back now and then (a leak in any call shows as hundreds).
inline void ExpectNothingAccumulated(const SoakCounts& counts) {
    const ResourceCounts& before = counts.before;
    const ResourceCounts& after = counts.after;
    EXPECT_EQ(before.lModuleBlocks, after.lModuleBlocks);
    EXPECT_LE(std::labs(after.lProcessBlocks - before.lProcessBlocks), 4L)
        << "process heap blocks " << before.lProcessBlocks << " -> " << after.lProcessBlocks;
    EXPECT_EQ(before.dwHandles, after.dwHandles);
    EXPECT_EQ(before.lProbedHandles, after.lProbedHandles);
}

// One id read while it is written: by two threads beside the writer's, and
// by two processes beside the writer's own. Every snapshot must be one the
// writer published whole (progress_workload.h), and never go back.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "progress/progress_section.h"
#include "progress_test_support.h"
#include "progress_workload.h"
#include "test_scale.h"

namespace {

// A reader's loop until it sees the end: kOk, or why it stopped.
enum ReaderExit {
    kReaderOk = 0,
    kReaderTorn = 10,       // a snapshot the writer never published
    kReaderGone = 11,       // the record vanished while its writer held it
    kReaderFailed = 12,     // a status other than kOk, kBusy or (before the start) kUnknown
    kReaderTimedOut = 13,
    kReaderNoReading = 14,  // the upload was never seen while it was read
};

struct ReaderTally {
    long nReads = 0, nBusy = 0, nMoves = 0;
    std::string strWhy;
};

// Reads through ReadProgress, as a page does, and between those many times
// through a view held open (as ReadProgress takes it), so that snapshots
// meet the writer's updates often. onRead(tally) after each whole snapshot.
// bStarted: the writer has begun, so an unknown id means the record is gone.
template <class OnRead>
ReaderExit ReadUntilEnd(const std::wstring& strId, bool bStarted, DWORD dwTimeout, OnRead onRead,
                        ReaderTally* pTally) {
    constexpr int kViewReads = 64;
    workload::Watch watch;
    const DWORD dwStart = GetTickCount();
    ProgressReport report;
    UniqueKernelHandle section;
    UniqueMappedView view;
    auto see = [&](const ProgressRecord& rec) {
        if (!watch.See(rec, &pTally->strWhy)) return false;
        ++pTally->nReads;
        pTally->nMoves = watch.nMoves;
        onRead(*pTally);
        return true;
    };
    while (!watch.bEnded) {
        if (GetTickCount() - dwStart > dwTimeout) return kReaderTimedOut;
        const ProgressReadStatus status = Read(strId, &report);
        if (status == ProgressReadStatus::kBusy) {
            ++pTally->nBusy;
            continue;
        }
        if (status == ProgressReadStatus::kUnknown && !bStarted) {
            Sleep(0);
            continue;
        }
        if (status == ProgressReadStatus::kUnknown) return kReaderGone;
        if (status != ProgressReadStatus::kOk) return kReaderFailed;
        bStarted = true;
        if (!see(report.record)) return kReaderTorn;
        if (!view) {
            const std::u16string strName = Utf16(SectionName(strId));
            if (OpenProgressSection(strName.c_str(), &section) != ERROR_SUCCESS ||
                MapProgressSection(section.get(), false, &view) != ERROR_SUCCESS)
                return kReaderFailed;
        }
        ProgressRecord rec;
        for (int i = 0; i < kViewReads && !watch.bEnded; ++i) {
            const SnapshotStatus snapshot = SnapshotRecord(view.as<ProgressShared>(), &rec, 100, nullptr);
            if (snapshot == SnapshotStatus::kBusy) {
                ++pTally->nBusy;
            } else if (snapshot != SnapshotStatus::kOk) {
                return kReaderFailed;
            } else if (!see(rec)) {
                return kReaderTorn;
            }
        }
    }
    return watch.nReading > 0 ? kReaderOk : kReaderNoReading;
}

TEST(ProgressConcurrency, TwoThreadsReadOneIdWhileAThirdWrites) {
    const std::wstring strId = TestId(L"threads");
    const long nMovesEach = ScaledCount("updates seen per thread", 2000, 400);
    ProgressWriter writer;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strId, 0));

    constexpr int kReaders = 2;
    std::atomic<long> anMoves[kReaders] = {};
    std::atomic<int> nReadersDone{0};
    ReaderTally tallies[kReaders];
    ReaderExit exits[kReaders] = {};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
        readers.emplace_back([&, r] {
            exits[r] = ReadUntilEnd(strId, true, 120000, [&](const ReaderTally& t) { anMoves[r] = t.nMoves; },
                                    &tallies[r]);
            ++nReadersDone;
        });
    SectionWriter sectionWriter{writer};
    std::uint32_t nSteps = 0;
    const DWORD dwStart = GetTickCount();
    while (nSteps < 1000 || anMoves[0] < nMovesEach || anMoves[1] < nMovesEach) {
        if (nReadersDone > 0 || GetTickCount() - dwStart > 60000) break;  // the readers' exits tell
        workload::Step(sectionWriter, nSteps++);
        if (nSteps % 16 == 0) Sleep(0);
    }
    writer.Finish(ProgressState::kDone, nullptr, 0);
    for (std::thread& t : readers) t.join();
    for (int r = 0; r < kReaders; ++r) {
        SCOPED_TRACE(testing::Message() << "reader " << r);
        EXPECT_EQ(kReaderOk, exits[r]) << tallies[r].strWhy;
        EXPECT_GE(tallies[r].nMoves, nMovesEach) << tallies[r].nReads << " read, " << tallies[r].nBusy << " busy";
    }
    ProgressReport report;
    ASSERT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
    EXPECT_EQ(nSteps, report.record.nFilesDone);
    EXPECT_EQ(nSteps * workload::kcbStep, report.record.cbRead);
}

// The child processes: "read ID READY ENOUGH" and "write ID ENOUGH0 ENOUGH1
// RELEASE", the capitals being event names.
UniqueKernelHandle OpenTestEvent(const char* pszName) {
    return UniqueKernelHandle(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, pszName));
}

std::wstring WideArgument(const char* psz) { return std::wstring(psz, psz + std::strlen(psz)); }

int RunReader(char** argv) {
    const std::wstring strId = WideArgument(argv[0]);
    UniqueKernelHandle ready = OpenTestEvent(argv[1]), enough = OpenTestEvent(argv[2]);
    const long nEnough = std::atol(argv[3]);
    if (!ready || !enough) return kReaderFailed;
    ReaderTally tally;
    ProgressReport report;
    Read(strId, &report);  // polling before the upload begins, as a page may
    SetEvent(ready.get());
    const ReaderExit exit = ReadUntilEnd(strId, false, 120000, [&](const ReaderTally& t) {
        if (t.nMoves == nEnough) SetEvent(enough.get());
    }, &tally);
    return exit;
}

int RunWriter(char** argv) {
    const std::wstring strId = WideArgument(argv[0]);
    UniqueKernelHandle enough0 = OpenTestEvent(argv[1]), enough1 = OpenTestEvent(argv[2]),
                       release = OpenTestEvent(argv[3]);
    if (!enough0 || !enough1 || !release) return 20;
    ProgressWriter writer;
    if (Begin(writer, strId, 0) != ProgressWriter::Status::kOk) return 21;
    SectionWriter sectionWriter{writer};
    const HANDLE ahEnough[] = {enough0.get(), enough1.get()};
    const DWORD dwStart = GetTickCount();
    std::uint32_t nSteps = 0;
    // On until both readers saw enough, or the test gave up on them.
    while (nSteps < 1000 || WaitForMultipleObjects(2, ahEnough, TRUE, 0) == WAIT_TIMEOUT) {
        if (GetTickCount() - dwStart > 60000) break;  // the readers tell
        workload::Step(sectionWriter, nSteps++);
        if (nSteps % 16 == 0) Sleep(0);
        if (nSteps % 1024 == 0 && WaitForSingleObject(release.get(), 0) == WAIT_OBJECT_0) break;
    }
    writer.Finish(ProgressState::kDone, nullptr, 0);
    // The record lives while this process keeps it: until the readers saw the end.
    WaitForSingleObject(release.get(), 120000);
    return 0;
}

struct Child {
    UniqueKernelHandle process;
    bool Start(const std::string& strArguments) {
        wchar_t szExe[MAX_PATH];
        GetModuleFileNameW(nullptr, szExe, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(szExe) + L"\" --child " + WideArgument(strArguments.c_str());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;  // the child's report is its exit code
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
        CloseHandle(pi.hThread);
        process.reset(pi.hProcess);
        return true;
    }
    DWORD Exit(DWORD dwTimeout) {
        if (WaitForSingleObject(process.get(), dwTimeout) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 99);
            return 99;
        }
        DWORD dwExit = 0;
        GetExitCodeProcess(process.get(), &dwExit);
        return dwExit;
    }
};

TEST(ProgressConcurrency, TwoProcessesReadOneIdWhileAThirdWrites) {
    const std::wstring strId = TestId(L"processes");
    const std::string strIdArgument(strId.begin(), strId.end());
    const long nMovesEach = ScaledCount("updates seen per process", 5000, 1000);
    const std::string strEvents = "varo-progress-test-" + std::to_string(GetCurrentProcessId()) + "-";
    std::vector<UniqueKernelHandle> events;
    for (const char* pszName : {"ready0", "ready1", "enough0", "enough1", "release"}) {
        events.emplace_back(CreateEventA(nullptr, TRUE, FALSE, (strEvents + pszName).c_str()));
        ASSERT_TRUE(events.back());
    }
    Child readers[2], writer;
    for (int r = 0; r < 2; ++r) {
        const std::string strR = std::to_string(r);
        ASSERT_TRUE(readers[r].Start("read " + strIdArgument + " " + strEvents + "ready" + strR + " " + strEvents +
                                     "enough" + strR + " " + std::to_string(nMovesEach)));
    }
    const HANDLE ahReady[] = {events[0].get(), events[1].get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, ahReady, TRUE, 60000)) << "the readers did not start";
    ASSERT_TRUE(writer.Start("write " + strIdArgument + " " + strEvents + "enough0 " + strEvents + "enough1 " +
                             strEvents + "release"));
    // A reader that stops early lets the writer end at once.
    const HANDLE ahReaders[] = {readers[0].process.get(), readers[1].process.get()};
    if (WaitForMultipleObjects(2, ahReaders, FALSE, 180000) != WAIT_TIMEOUT) {
        DWORD dwExit0 = STILL_ACTIVE, dwExit1 = STILL_ACTIVE;
        GetExitCodeProcess(ahReaders[0], &dwExit0);
        GetExitCodeProcess(ahReaders[1], &dwExit1);
        if ((dwExit0 != STILL_ACTIVE && dwExit0 != kReaderOk) || (dwExit1 != STILL_ACTIVE && dwExit1 != kReaderOk))
            SetEvent(events[4].get());
    }
    EXPECT_EQ(static_cast<DWORD>(kReaderOk), readers[0].Exit(180000));
    EXPECT_EQ(static_cast<DWORD>(kReaderOk), readers[1].Exit(180000));
    const HANDLE ahEnough[] = {events[2].get(), events[3].get()};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, ahEnough, TRUE, 0))
        << "each reader saw the upload move " << nMovesEach << " times while it was written";
    SetEvent(events[4].get());
    EXPECT_EQ(0u, writer.Exit(60000));
}

}  // namespace

int RunProgressChild(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[0], "read") == 0) return RunReader(argv + 1);
    if (argc == 5 && std::strcmp(argv[0], "write") == 0) return RunWriter(argv + 1);
    return 2;
}

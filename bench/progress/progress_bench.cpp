// What progress costs a large upload: 1 GiB taken in 64 KB pieces (each
// copied out of a 32 MiB source, as a request's bytes are copied out of
// the server's buffers), without progress, with the writer's calls (Advance
// per piece, a file started and done every 16 MiB, the start and the end),
// and with them while another thread reads the record every millisecond
// (a browser polls every half second), and the pieces' writer calls alone.
// They run in rounds, in a different order each round; prints each round,
// the medians, and the writer's cost per piece and as a ratio, measured in
// this run.
// Under Wine the writer is VARO's own (the named section, the keeper, the
// reader's ReadProgress); natively the same record in memory.
//   progress_bench [--rounds=N]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_options.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/module_state.h"
#include "progress/progress_keeper.h"
#include "progress/progress_reader.h"
#include "progress/progress_writer.h"
#else
#include "progress/progress_tracker.h"
#endif

namespace {

constexpr std::size_t kcbPiece = 64u << 10;
constexpr std::size_t kcbSource = 32u << 20;
constexpr std::uint64_t kcbUpload = 1ull << 30;
constexpr std::uint64_t kcbFile = 16u << 20;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

#ifdef _WIN32
// VARO's writer and reader under one id per round.
class BenchProgress {
public:
    explicit BenchProgress(int iRound)
        : m_strId(L"bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(iRound)) {}
    bool Begin(std::uint64_t cbTotal) {
        return m_writer.Begin(m_strId.data(), m_strId.size(), cbTotal) == ProgressWriter::Status::kOk;
    }
    void Advance(std::uint64_t cb) { m_writer.Advance(cb); }
    void FileStarted(const wchar_t* pszFile) { m_writer.FileStarted(L"upload", 6, pszFile, wcslen(pszFile)); }
    void FileDone() { m_writer.FileDone(); }
    void Finish() { m_writer.Finish(ProgressState::kDone, nullptr, 0); }
    std::uint64_t Read() {
        ProgressReport report;
        ReadProgress(m_strId.data(), m_strId.size(), &report);
        return report.record.cbRead;
    }

private:
    std::wstring m_strId;
    ProgressWriter m_writer;
};
#else
std::uint64_t ChronoNow() { return static_cast<std::uint64_t>(Now() * 1e7); }
std::uint32_t ChronoTicks() { return static_cast<std::uint32_t>(Now() * 1e3); }

// The tracker over a record in memory.
class BenchProgress {
public:
    explicit BenchProgress(int) { std::memset(&m_shared, 0, sizeof m_shared); }
    bool Begin(std::uint64_t cbTotal) {
        m_tracker.Start(&m_shared, ProgressClock{ChronoNow, ChronoTicks}, cbTotal);
        return true;
    }
    void Advance(std::uint64_t cb) { m_tracker.Advance(cb); }
    void FileStarted(const wchar_t* pszFile) {
        std::u16string strFile(pszFile, pszFile + wcslen(pszFile));
        m_tracker.FileStarted(u"upload", 6, strFile.data(), strFile.size());
    }
    void FileDone() { m_tracker.FileDone(); }
    void Finish() { m_tracker.Finish(ProgressState::kDone, nullptr, 0); }
    std::uint64_t Read() {
        ProgressRecord rec;
        return SnapshotRecord(&m_shared, &rec, 100, nullptr) == SnapshotStatus::kOk ? rec.cbRead : 0;
    }

private:
    ProgressShared m_shared;
    ProgressTracker m_tracker;
};
#endif

enum class Mode { kPlain, kWriter, kWriterAndReader, kWriterAlone };
constexpr int kModes = 4;
const char* const kModeNames[] = {"without progress", "with the writer", "with the writer, read every 1 ms",
                                  "the pieces' writer calls alone"};

std::vector<unsigned char> g_source(kcbSource);
unsigned char g_piece[kcbPiece];
std::uint64_t g_sink = 0;
std::vector<double> g_dStartAndEnd;  // the writer's Begin and Finish, each round

// One upload's pieces; seconds, or a negative number when the writer did not begin.
double Upload(Mode mode, int iRound) {
    BenchProgress progress(iRound);
    std::atomic<bool> bDone{false};
    std::thread reader;
    double t0 = Now();
    if (mode != Mode::kPlain && !progress.Begin(kcbUpload)) return -1;
    // Alone, the pieces' calls are timed apart from the start and the end.
    double dEnds = 0;
    if (mode == Mode::kWriterAlone) {
        dEnds = Now() - t0;
        t0 = Now();
    }
    if (mode == Mode::kWriterAndReader)
        reader = std::thread([&] {
            while (!bDone.load()) {
                g_sink += progress.Read();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    std::size_t cbOffset = 0;
    for (std::uint64_t cbDone = 0; cbDone < kcbUpload; cbDone += kcbPiece) {
        if (mode != Mode::kPlain && cbDone % kcbFile == 0) progress.FileStarted(L"video-part.bin");
        if (mode != Mode::kWriterAlone) {
            std::memcpy(g_piece, &g_source[cbOffset], kcbPiece);
            g_sink += g_piece[cbDone % kcbPiece];
            cbOffset = (cbOffset + kcbPiece) % kcbSource;
        }
        if (mode != Mode::kPlain) {
            progress.Advance(kcbPiece);
            if ((cbDone + kcbPiece) % kcbFile == 0) progress.FileDone();
        }
    }
    const double tPieces = Now();
    if (mode != Mode::kPlain) progress.Finish();
    const double dSeconds = mode == Mode::kWriterAlone ? tPieces - t0 : Now() - t0;
    if (mode == Mode::kWriterAlone) g_dStartAndEnd.push_back(dEnds + Now() - tPieces);
    bDone = true;
    if (reader.joinable()) reader.join();
    return dSeconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int nRounds = static_cast<int>(bench_options::Option(argc, argv, "rounds", 6));
#ifdef _WIN32
    if (FAILED(InitModule(nullptr, GetModuleHandleA(nullptr)))) return 1;
    SetProgressRetention(0);  // each round's record goes with its writer
#endif
    for (std::size_t i = 0; i < kcbSource; ++i) g_source[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    const double nPieces = static_cast<double>(kcbUpload / kcbPiece);
    std::printf("progress benchmark: 1 GiB in 64 KB pieces (%.0f), a file every 16 MiB, %d rounds\n", nPieces, nRounds);

    std::vector<double> times[kModes];
    std::vector<double> ratios[kModes];
    for (int iRound = 0; iRound < nRounds; ++iRound) {
        double round[kModes];
        for (int k = 0; k < kModes; ++k) {
            const int m = (iRound + k) % kModes;  // each mode first in its own rounds
            round[m] = Upload(static_cast<Mode>(m), iRound * kModes + m);
            if (round[m] < 0) {
                std::printf("the writer did not begin\n");
                return 1;
            }
        }
        std::printf("  round %d: %.3f s, %.3f s, %.3f s, writer alone %.5f s\n", iRound + 1, round[0], round[1],
                    round[2], round[3]);
        for (int m = 0; m < kModes; ++m) {
            times[m].push_back(round[m]);
            ratios[m].push_back(round[m] / round[0]);
        }
    }
    const double dPlain = Median(times[0]);
    for (int m = 0; m < kModes; ++m) {
        const double dMedian = Median(times[m]);
        std::printf("%-34s median %.5f s, %.1f ns per piece", kModeNames[m], dMedian, dMedian / nPieces * 1e9);
        if (m == 1 || m == 2)
            std::printf(", ratio %.4f (median of the rounds' ratios)", Median(ratios[m]));
        std::printf("\n");
    }
    // The rounds' noise is larger than the writer's cost: its calls timed
    // alone, over the plain loop, give the ratio more closely.
    const double dStartAndEnd = Median(g_dStartAndEnd);
    std::printf("the writer's start and end: %.0f us per upload\n", dStartAndEnd * 1e6);
    std::printf("the writer's calls per 64 KB piece: %.1f ns against %.0f ns of reading: ratio %.4f "
                "(%.4f with the start and the end)\n",
                Median(times[3]) / nPieces * 1e9, dPlain / nPieces * 1e9, (dPlain + Median(times[3])) / dPlain,
                (dPlain + Median(times[3]) + dStartAndEnd) / dPlain);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
#ifdef _WIN32
    TermModule();
#endif
    return 0;
}

// The figures a display shows, sane at the edges: no total, no time yet,
// a clock set back, more read than announced.
#include <gtest/gtest.h>

#include "progress/progress_figures.h"

namespace {

constexpr std::uint64_t kSecond = 10000000;  // FILETIME ticks
constexpr std::uint64_t kStart = 130000000000000000ull;

struct FiguresCase {
    const char* pszWhat;
    ProgressState state;
    std::uint64_t cbRead, cbTotal;
    std::uint64_t ftEnded;  // from kStart; ignored while reading
    std::uint64_t ftNow;    // from kStart
    double dblPercent, dblElapsed, dblRate, dblRemaining;
};

TEST(ProgressFigures, FromTheRecordAndTheTime) {
    const FiguresCase cases[] = {
        {"a quarter in 2 s", ProgressState::kReading, 250, 1000, 0, 2 * kSecond, 25, 2, 125, 6},
        {"no time passed", ProgressState::kReading, 0, 1000, 0, 0, 0, 0, 0, -1},
        {"nothing read yet", ProgressState::kReading, 0, 1000, 0, 3 * kSecond, 0, 3, 0, -1},
        {"total not known", ProgressState::kReading, 500, 0, 0, 5 * kSecond, 0, 5, 100, -1},
        {"more read than announced", ProgressState::kReading, 1200, 1000, 0, kSecond, 100, 1, 1200, 0},
        {"all read, not yet ended", ProgressState::kReading, 1000, 1000, 0, 4 * kSecond, 100, 4, 250, 0},
        {"done: ended 4 s in, asked later", ProgressState::kDone, 1000, 1000, 4 * kSecond, 60 * kSecond, 100, 4, 250, 0},
        {"done with bytes left after the form", ProgressState::kDone, 990, 1000, kSecond, kSecond, 100, 1, 990, 0},
        {"done, empty body", ProgressState::kDone, 0, 0, 0, kSecond, 100, 0, 0, 0},
        {"refused a tenth in", ProgressState::kRefused, 100, 1000, 2 * kSecond, 9 * kSecond, 10, 2, 50, 0},
        {"failed, total not known", ProgressState::kFailed, 100, 0, kSecond, kSecond, 0, 1, 100, 0},
    };
    for (const FiguresCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ProgressRecord rec{};
        rec.nState = static_cast<std::uint32_t>(c.state);
        rec.cbRead = c.cbRead;
        rec.cbTotal = c.cbTotal;
        rec.ftStart = kStart;
        rec.ftEnded = c.state == ProgressState::kReading ? 0 : kStart + c.ftEnded;
        const ProgressFigures f = ProgressFiguresAt(rec, kStart + c.ftNow);
        EXPECT_DOUBLE_EQ(c.dblPercent, f.dblPercent);
        EXPECT_DOUBLE_EQ(c.dblElapsed, f.dblElapsedSeconds);
        EXPECT_DOUBLE_EQ(c.dblRate, f.dblBytesPerSecond);
        EXPECT_DOUBLE_EQ(c.dblRemaining, f.dblRemainingSeconds);
    }
}

TEST(ProgressFigures, AClockBeforeTheStartCountsAsNoTime) {
    ProgressRecord rec{};
    rec.nState = static_cast<std::uint32_t>(ProgressState::kReading);
    rec.cbRead = 10;
    rec.cbTotal = 100;
    rec.ftStart = kStart;
    const ProgressFigures f = ProgressFiguresAt(rec, kStart - 5 * kSecond);
    EXPECT_DOUBLE_EQ(0, f.dblElapsedSeconds);
    EXPECT_DOUBLE_EQ(0, f.dblBytesPerSecond);
    EXPECT_DOUBLE_EQ(-1, f.dblRemainingSeconds);
    EXPECT_DOUBLE_EQ(10, f.dblPercent);
}

TEST(ProgressFigures, AnUnknownRecordShowsNothing) {
    const ProgressRecord rec{};
    const ProgressFigures f = ProgressFiguresAt(rec, kStart);
    EXPECT_DOUBLE_EQ(0, f.dblPercent);
    EXPECT_DOUBLE_EQ(0, f.dblElapsedSeconds);
    EXPECT_DOUBLE_EQ(0, f.dblBytesPerSecond);
    EXPECT_DOUBLE_EQ(-1, f.dblRemainingSeconds);
}

}  // namespace

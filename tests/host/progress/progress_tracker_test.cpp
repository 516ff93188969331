// The writer's throttle: what a reader sees after each call, and how many
// updates a whole upload makes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "progress/progress_tracker.h"

namespace {

std::uint64_t g_ftNow = 0;
std::uint32_t g_msNow = 0;
std::uint64_t FakeNow() { return g_ftNow; }
std::uint32_t FakeTicks() { return g_msNow; }
const ProgressClock kFakeClock = {FakeNow, FakeTicks};

class Tracker : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&m_shared, 0, sizeof m_shared);
        ASSERT_TRUE(ClaimRecord(&m_shared, 1));
    }
    ProgressRecord Seen() {
        ProgressRecord rec;
        EXPECT_EQ(SnapshotStatus::kOk, SnapshotRecord(&m_shared, &rec, 1, nullptr));
        return rec;
    }
    std::uint32_t Publishes() { return m_shared.aw[offsetof(ProgressRecord, nSequence) / 4] / 2; }

    ProgressShared m_shared;
    ProgressTracker m_tracker;
};

enum class Call { kAdvance, kFileStarted, kFileDone, kFinish };

struct ThrottleStep {
    Call call;
    std::uint32_t ms;
    std::uint64_t cb;  // kAdvance
    std::uint64_t cbSeen;
    std::uint32_t nFilesSeen;
    const char16_t* pszFileSeen;
};

TEST_F(Tracker, PublishesEvery64KBOr100msAndAlwaysTheEnd) {
    g_msNow = 1000;
    g_ftNow = 5000;
    m_tracker.Start(&m_shared, kFakeClock, 1u << 20);
    ProgressRecord rec = Seen();
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kReading), rec.nState);
    EXPECT_EQ(1u << 20, rec.cbTotal);
    EXPECT_EQ(5000u, rec.ftStart);

    const ThrottleStep steps[] = {
        {Call::kAdvance, 1000, 1000, 0, 0, u""},
        {Call::kAdvance, 1000, 65535 - 1000, 0, 0, u""},
        {Call::kAdvance, 1000, 1, 65536, 0, u""},             // 64 KB since the last update
        {Call::kFileStarted, 1050, 0, 65536, 0, u""},          // waits for the next update
        {Call::kAdvance, 1099, 10, 65536, 0, u""},
        {Call::kAdvance, 1100, 10, 65556, 0, u"a.txt"},        // 100 ms since the last update
        {Call::kFileDone, 1150, 0, 65556, 0, u"a.txt"},
        {Call::kAdvance, 1150, 65535, 65556, 0, u"a.txt"},     // 64 KB less a byte
        {Call::kFileDone, 1200, 0, 131091, 2, u"a.txt"},       // a file's end on its own, by time
        {Call::kAdvance, 1201, 7, 131091, 2, u"a.txt"},
        {Call::kFinish, 1202, 0, 131098, 2, u"a.txt"},         // the end at once
        {Call::kAdvance, 5000, 1u << 20, 131098, 2, u"a.txt"},  // nothing after the end
        {Call::kFileDone, 5000, 0, 131098, 2, u"a.txt"},
    };
    const std::u16string strField = u"upload", strFile = u"a.txt";
    for (std::size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const ThrottleStep& s = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i);
        g_msNow = s.ms;
        g_ftNow = 5000 + 10000ull * (s.ms - 1000);
        switch (s.call) {
        case Call::kAdvance: m_tracker.Advance(s.cb); break;
        case Call::kFileStarted: m_tracker.FileStarted(strField.data(), strField.size(), strFile.data(), strFile.size()); break;
        case Call::kFileDone: m_tracker.FileDone(); break;
        case Call::kFinish: m_tracker.Finish(ProgressState::kDone, nullptr, 0); break;
        }
        rec = Seen();
        EXPECT_EQ(s.cbSeen, rec.cbRead);
        EXPECT_EQ(s.nFilesSeen, rec.nFilesDone);
        EXPECT_EQ(std::u16string(s.pszFileSeen), std::u16string(rec.szFile));
    }
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kDone), rec.nState);
    EXPECT_EQ(5000u + 10000u * 202, rec.ftEnded);
    EXPECT_EQ(rec.ftEnded, rec.ftUpdated);
    EXPECT_EQ(u"upload", std::u16string(rec.szField));
}

struct UploadShape {
    const char* pszWhat;
    std::uint64_t cbPiece;
    std::uint32_t msPerPiece;
    std::uint64_t nPieces;
    std::uint32_t nPublishes;  // the start and the end included
};

TEST_F(Tracker, AWholeUploadPublishesNoMoreOftenThanTheThrottleAllows) {
    const UploadShape shapes[] = {
        {"1 GiB in 256 KB pieces", 256u << 10, 0, 4096, 1 + 4096 + 1},
        {"1 GiB in 1 KB pieces", 1u << 10, 0, 1u << 20, 1 + 16384 + 1},
        {"a byte every 10 ms", 1, 10, 1000, 1 + 100 + 1},
        {"nothing read", 0, 0, 0, 1 + 1},
    };
    for (const UploadShape& s : shapes) {
        SCOPED_TRACE(s.pszWhat);
        std::memset(&m_shared, 0, sizeof m_shared);
        g_msNow = 0xFFFFFF00u;  // the tick count wraps on the way
        ProgressTracker tracker;
        tracker.Start(&m_shared, kFakeClock, s.cbPiece * s.nPieces);
        for (std::uint64_t i = 0; i < s.nPieces; ++i) {
            g_msNow += s.msPerPiece;
            tracker.Advance(s.cbPiece);
        }
        tracker.Finish(ProgressState::kDone, nullptr, 0);
        EXPECT_EQ(s.nPublishes, Publishes());
        EXPECT_EQ(s.cbPiece * s.nPieces, Seen().cbRead);
    }
}

TEST_F(Tracker, ATakenOverRecordStartsAfreshAndEndsWithItsMessage) {
    g_msNow = 0;
    ProgressTracker first;
    first.Start(&m_shared, kFakeClock, 100);
    const std::u16string strField = u"f", strFile = u"old.txt", strMessage = u"too large";
    first.FileStarted(strField.data(), 1, strFile.data(), strFile.size());
    first.Advance(100);
    first.FileDone();
    first.Finish(ProgressState::kRefused, strMessage.data(), strMessage.size());
    ProgressRecord rec = Seen();
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kRefused), rec.nState);
    EXPECT_EQ(u"too large", std::u16string(rec.szMessage));
    EXPECT_EQ(u"old.txt", std::u16string(rec.szFile));

    ProgressTracker second;
    second.Start(&m_shared, kFakeClock, 50);
    rec = Seen();
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kReading), rec.nState);
    EXPECT_EQ(0u, rec.cbRead);
    EXPECT_EQ(0u, rec.nFilesDone);
    EXPECT_EQ(0u, rec.ftEnded);
    EXPECT_EQ(u"", std::u16string(rec.szFile));
    EXPECT_EQ(u"", std::u16string(rec.szField));
    EXPECT_EQ(u"", std::u16string(rec.szMessage));

    // Only an end state ends a record; a long message is cut to its room.
    const std::u16string strLong(kcchProgressMessage + 40, u'm');
    second.Finish(ProgressState::kReading, strLong.data(), strLong.size());
    rec = Seen();
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kFailed), rec.nState);
    EXPECT_EQ(kcchProgressMessage, rec.cchMessage);
    EXPECT_EQ(std::u16string(kcchProgressMessage, u'm'), std::u16string(rec.szMessage));
}

struct EndCase {
    const char* pszWhat;
    std::uint64_t cbRead;  // before the end
    bool bFinish;
    ProgressState state;
    bool bBeforeItsBody;
};

TEST_F(Tracker, AnEndShortOfDoneBeforeTheFirstByteIsToldApart) {
    const EndCase cases[] = {
        {"refused at once", 0, true, ProgressState::kRefused, true},
        {"failed at once", 0, true, ProgressState::kFailed, true},
        {"an end state that is not one: failed", 0, true, ProgressState::kReading, true},
        {"refused after one byte", 1, true, ProgressState::kRefused, false},
        {"failed after a piece", 256u << 10, true, ProgressState::kFailed, false},
        {"done without a byte", 0, true, ProgressState::kDone, false},
        {"done", 100, true, ProgressState::kDone, false},
        {"still reading", 0, false, ProgressState::kReading, false},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ReleaseRecord(&m_shared);
        ProgressTracker tracker;
        tracker.Start(&m_shared, kFakeClock, 100);
        if (c.cbRead) tracker.Advance(c.cbRead);
        if (c.bFinish) tracker.Finish(c.state, nullptr, 0);
        EXPECT_EQ(c.bBeforeItsBody, tracker.EndedBeforeItsBody());
    }
}

TEST_F(Tracker, CallsBeforeAStartChangeNothing) {
    ProgressTracker idle;
    idle.Advance(1000);
    idle.FileStarted(u"f", 1, u"a", 1);
    idle.FileDone();
    idle.Finish(ProgressState::kDone, u"x", 1);
    EXPECT_FALSE(idle.Started());
    EXPECT_FALSE(idle.Ended());
    EXPECT_EQ(0u, idle.Record().cbRead);
    EXPECT_EQ(0u, Publishes());
}

}  // namespace

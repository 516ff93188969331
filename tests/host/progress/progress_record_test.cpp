// The shared record: texts cut safely, the claim, and snapshots that are
// whole while a writer publishes, or refused.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "progress/progress_record.h"
#include "progress/progress_tracker.h"
#include "progress_workload.h"

namespace {

struct TextCase {
    const char* pszWhat;
    std::u16string strSource;
    std::uint32_t cchCapacity;
    std::u16string strKept;
};

TEST(ProgressText, CutAtTheCapacityNeverInsideASurrogatePair) {
    const std::u16string strPair = u"\U0001F600";  // two units
    const TextCase cases[] = {
        {"fits", u"abc", 4, u"abc"},
        {"exactly fits", u"abcd", 4, u"abcd"},
        {"cut", u"abcdef", 4, u"abcd"},
        {"pair across the cut", u"abc" + strPair, 4, u"abc"},
        {"pair just fits", u"ab" + strPair, 4, u"ab" + strPair},
        {"pair after the cut", u"abcd" + strPair, 4, u"abcd"},
        {"empty", u"", 4, u""},
        {"nothing fits", u"abc", 0, u""},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        std::vector<char16_t> target(c.cchCapacity + 2, u'#');
        const std::uint16_t cch = CopyProgressText(target.data(), c.cchCapacity, c.strSource.data(), c.strSource.size());
        EXPECT_EQ(c.strKept.size(), cch);
        EXPECT_EQ(c.strKept, std::u16string(target.data(), cch));
        EXPECT_EQ(u'\0', target[cch]);
        EXPECT_EQ(u'#', target[c.cchCapacity + 1]) << "written past the terminator's place";
    }
    char16_t sz[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(0, CopyProgressText(sz, 3, nullptr, 5));
    EXPECT_EQ(u'\0', sz[0]);
}

std::unique_ptr<ProgressShared> ZeroShared() {
    std::unique_ptr<ProgressShared> pShared(new ProgressShared);
    std::memset(pShared.get(), 0, sizeof(ProgressShared));
    return pShared;
}

ProgressRecord SampleRecord() {
    ProgressRecord rec{};
    rec.nMagic = kProgressMagic;
    rec.cbRecord = sizeof(ProgressRecord);
    rec.nState = static_cast<std::uint32_t>(ProgressState::kReading);
    rec.cbRead = 0x123456789ull;
    rec.cbTotal = 0x223456789ull;
    rec.nFilesDone = 3;
    rec.cchFile = CopyProgressText(rec.szFile, kcchProgressFile, u"a.txt", 5);
    return rec;
}

struct StateNameCase {
    std::uint32_t nState;  // as the record holds it
    const char16_t* pszName;
};

TEST(ProgressStateName, EachStateByItsNameAndAnyOtherWordUnknown) {
    const StateNameCase cases[] = {
        {0, u"unknown"}, {1, u"reading"}, {2, u"done"}, {3, u"refused"}, {4, u"failed"}, {5, u"unknown"},
        {0xFFFFFFFFu, u"unknown"},
    };
    for (const StateNameCase& c : cases) {
        SCOPED_TRACE(c.nState);
        EXPECT_EQ(std::u16string(c.pszName), std::u16string(ProgressStateName(static_cast<ProgressState>(c.nState))));
    }
}

TEST(ProgressRecordShared, OneWriterClaimsItUntilItReleases) {
    auto pShared = ZeroShared();
    EXPECT_TRUE(ClaimRecord(pShared.get(), 41));
    EXPECT_FALSE(ClaimRecord(pShared.get(), 42));
    EXPECT_FALSE(ClaimRecord(pShared.get(), 41));  // not even the same process twice
    ReleaseRecord(pShared.get());
    EXPECT_TRUE(ClaimRecord(pShared.get(), 42));
}

TEST(ProgressRecordShared, PublishedCountsReadBackWithTextsOnlyWhenAsked) {
    auto pShared = ZeroShared();
    ASSERT_TRUE(ClaimRecord(pShared.get(), 7));
    ProgressRecord rec = SampleRecord();
    PublishRecord(pShared.get(), rec, true);
    rec.cbRead += 10;
    rec.cchFile = CopyProgressText(rec.szFile, kcchProgressFile, u"b.txt", 5);
    PublishRecord(pShared.get(), rec, false);

    ProgressRecord copy;
    ASSERT_EQ(SnapshotStatus::kOk, SnapshotRecord(pShared.get(), &copy, 1, nullptr));
    EXPECT_EQ(rec.cbRead, copy.cbRead);
    EXPECT_EQ(rec.cbTotal, copy.cbTotal);
    EXPECT_EQ(3u, copy.nFilesDone);
    EXPECT_EQ(u"a.txt", std::u16string(copy.szFile));  // the texts of the first publish
    EXPECT_EQ(4u, copy.nSequence) << "two publishes, each two steps";
    EXPECT_EQ(7u, copy.nOwner) << "publishing leaves the claim alone";
}

void CountWait(int) {}

TEST(ProgressRecordShared, SnapshotRefusesWhatIsNotAWholeRecord) {
    auto pShared = ZeroShared();
    ProgressRecord copy;
    EXPECT_EQ(SnapshotStatus::kForeign, SnapshotRecord(pShared.get(), &copy, 3, nullptr)) << "never written";

    ProgressRecord rec = SampleRecord();
    rec.nMagic ^= 1;
    PublishRecord(pShared.get(), rec, true);
    EXPECT_EQ(SnapshotStatus::kForeign, SnapshotRecord(pShared.get(), &copy, 3, nullptr)) << "another layout";
    rec = SampleRecord();
    rec.nState = 9;
    PublishRecord(pShared.get(), rec, true);
    EXPECT_EQ(SnapshotStatus::kForeign, SnapshotRecord(pShared.get(), &copy, 3, nullptr)) << "no such state";

    // A writer that died mid-update leaves the counter odd: the reader gives up.
    rec = SampleRecord();
    PublishRecord(pShared.get(), rec, true);
    pShared->aw[offsetof(ProgressRecord, nSequence) / 4] |= 1;
    static int s_nWaits;
    s_nWaits = 0;
    EXPECT_EQ(SnapshotStatus::kBusy, SnapshotRecord(pShared.get(), &copy, 5, [](int) { ++s_nWaits; }));
    EXPECT_EQ(4, s_nWaits) << "a wait between tries, none after the last";
    // The next writer's update makes it whole again.
    PublishRecord(pShared.get(), rec, false);
    EXPECT_EQ(SnapshotStatus::kOk, SnapshotRecord(pShared.get(), &copy, 1, CountWait));
}

TEST(ProgressRecordShared, SnapshotEndsTextsWhateverTheLengthsSay) {
    auto pShared = ZeroShared();
    ProgressRecord rec = SampleRecord();
    rec.cchField = 0xFFFF;  // as a hostile or broken section might hold
    rec.cchFile = kcchProgressFile + 1;
    rec.cchMessage = 3;
    for (char16_t& ch : rec.szField) ch = u'x';
    for (char16_t& ch : rec.szFile) ch = u'y';
    for (char16_t& ch : rec.szMessage) ch = u'z';
    PublishRecord(pShared.get(), rec, true);
    ProgressRecord copy;
    ASSERT_EQ(SnapshotStatus::kOk, SnapshotRecord(pShared.get(), &copy, 1, nullptr));
    EXPECT_EQ(kcchProgressField, copy.cchField);
    EXPECT_EQ(kcchProgressField, std::char_traits<char16_t>::length(copy.szField));
    EXPECT_EQ(kcchProgressFile, copy.cchFile);
    EXPECT_EQ(kcchProgressFile, std::char_traits<char16_t>::length(copy.szFile));
    EXPECT_EQ(u"zzz", std::u16string(copy.szMessage));
}

// The tracker over a record in memory, as the workload drives it.
struct TrackerWriter {
    ProgressTracker& tracker;
    void FileStarted(const std::u16string& strField, const std::u16string& strFile) {
        tracker.FileStarted(strField.data(), strField.size(), strFile.data(), strFile.size());
    }
    void Advance(std::uint64_t cb) { tracker.Advance(cb); }
    void FileDone() { tracker.FileDone(); }
};

std::uint64_t g_ftNow = 1;
std::uint64_t StepNow() { return ++g_ftNow; }
std::uint32_t StepTicks() { return static_cast<std::uint32_t>(g_ftNow); }

TEST(ProgressRecordShared, TwoReadersSeeOnlyWholeRecordsWhileAThirdThreadWrites) {
    auto pShared = ZeroShared();
    ASSERT_TRUE(ClaimRecord(pShared.get(), 1));
    ProgressTracker tracker;
    tracker.Start(pShared.get(), ProgressClock{StepNow, StepTicks}, 0);

    constexpr int kReaders = 2;
    constexpr long kReadsEach = 100000;
    std::atomic<long> anReads[kReaders] = {};
    std::atomic<bool> bEnded{false}, bFault{false};
    std::string astrFault[kReaders];
    long anReading[kReaders] = {}, anBusy[kReaders] = {};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            workload::Watch watch;
            ProgressRecord copy;
            for (;;) {
                const bool bLast = bEnded.load();
                const SnapshotStatus status = SnapshotRecord(pShared.get(), &copy, 10, nullptr);
                if (status == SnapshotStatus::kBusy) {
                    ++anBusy[r];  // allowed: a reader never waits for long
                    continue;
                }
                if (status != SnapshotStatus::kOk) astrFault[r] = "status " + std::to_string(static_cast<int>(status));
                if (status != SnapshotStatus::kOk || !watch.See(copy, &astrFault[r])) {
                    bFault = true;
                    return;
                }
                ++anReads[r];
                if (bLast) break;
            }
            anReading[r] = watch.nReading;
            if (!watch.bEnded) astrFault[r] = "the end was never seen";
        });
    }
    TrackerWriter writer{tracker};
    std::uint32_t nSteps = 0;
    // At least this many steps, and on until both readers read enough; a
    // yield between steps stands for the reading of the request.
    while (!bFault.load() && nSteps < 5000000 &&
           (nSteps < 20000 || anReads[0].load() < kReadsEach || anReads[1].load() < kReadsEach)) {
        workload::Step(writer, nSteps++);
        std::this_thread::yield();
    }
    tracker.Finish(ProgressState::kDone, nullptr, 0);
    bEnded = true;
    for (std::thread& t : readers) t.join();
    for (int r = 0; r < kReaders; ++r) {
        EXPECT_EQ("", astrFault[r]) << "reader " << r;
        EXPECT_GE(anReads[r].load(), kReadsEach) << "reader " << r << " (" << anBusy[r] << " busy)";
        EXPECT_GT(anReading[r], 0) << "reader " << r << " saw the upload while it was read";
    }
    ProgressRecord last;
    ASSERT_EQ(SnapshotStatus::kOk, SnapshotRecord(pShared.get(), &last, 1, nullptr));
    EXPECT_EQ(nSteps, last.nFilesDone);
    EXPECT_EQ(nSteps * workload::kcbStep, last.cbRead);
}

}  // namespace

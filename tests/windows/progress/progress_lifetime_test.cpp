// How long a record lives: until its upload ends plus the retention time,
// whoever notices the time has passed, unless it ended before its body's
// first byte or the cap pushed it out; and who may write it meanwhile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/module_state.h"
#include "progress/kept_entries.h"
#include "progress/progress_keeper.h"
#include "progress_test_support.h"

namespace {

class ProgressLifetime : public ::testing::Test {
protected:
    // What other tests kept goes as at a detach.
    void SetUp() override { ASSERT_TRUE(RestartModule()); }
    void TearDown() override { SetProgressRetention(kmsDefaultProgressRetention); }
    static bool RestartModule() {
        TermModule();
        return SUCCEEDED(InitModule(nullptr, GetModuleHandleA(nullptr)));
    }
    static bool SectionExists(const std::wstring& strId) {
        UniqueKernelHandle section(OpenFileMappingW(FILE_MAP_READ, FALSE, SectionName(strId).c_str()));
        return static_cast<bool>(section);
    }
    static void WaitUntil(DWORD dwTick) {
        while (static_cast<LONG>(GetTickCount() - dwTick) < 0) Sleep(20);
    }
};

// Who calls into the module after the retention time has passed.
enum class Sweeper { kReader, kUnloadQuestion, kLaterWriter, kDetach };
struct SweeperCase {
    const char* pszWhat;
    Sweeper sweeper;
};

TEST_F(ProgressLifetime, AnEndedRecordStaysForTheRetentionTimeThenIsUnknown) {
    const SweeperCase cases[] = {
        {"a page reading it", Sweeper::kReader},
        {"DllCanUnloadNow", Sweeper::kUnloadQuestion},
        {"another upload", Sweeper::kLaterWriter},
        {"the module's detach, before the time", Sweeper::kDetach},
    };
    constexpr DWORD kmsRetention = 400;
    SetProgressRetention(kmsRetention);
    for (const SweeperCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_EQ(0u, KeptProgressCount());
        ASSERT_EQ(S_OK, DllCanUnloadNow());
        const std::wstring strId = TestId(L"kept");
        DWORD dwBeforeEnd, dwAfterEnd;
        {
            ProgressWriter writer;
            ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strId, 1000));
            writer.Advance(1000);
            dwBeforeEnd = GetTickCount();
            writer.Finish(ProgressState::kDone, nullptr, 0);
            dwAfterEnd = GetTickCount();
        }
        EXPECT_EQ(1u, KeptProgressCount());
        EXPECT_EQ(S_FALSE, DllCanUnloadNow()) << "the module holds a record";

        ProgressReport report;
        const ProgressReadStatus status = Read(strId, &report);
        if (GetTickCount() - dwBeforeEnd < kmsRetention) {  // a busy machine may have taken longer
            EXPECT_EQ(ProgressReadStatus::kOk, status);
            EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kDone), report.record.nState);
            EXPECT_EQ(1000u, report.record.cbRead);
            EXPECT_EQ(100.0, report.figures.dblPercent);
        }

        if (c.sweeper != Sweeper::kDetach) WaitUntil(dwAfterEnd + kmsRetention + 50);
        EXPECT_TRUE(SectionExists(strId)) << "nothing has swept yet";
        switch (c.sweeper) {
        case Sweeper::kReader:
            EXPECT_EQ(ProgressReadStatus::kUnknown, Read(strId, &report));
            EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kUnknown), report.record.nState);
            break;
        case Sweeper::kUnloadQuestion:
            EXPECT_EQ(S_OK, DllCanUnloadNow());
            break;
        case Sweeper::kLaterWriter: {
            ProgressWriter later;
            EXPECT_EQ(ProgressWriter::Status::kOk, Begin(later, TestId(L"later"), 1));
            EXPECT_EQ(0u, KeptProgressCount()) << "swept before the new upload began";
            SetProgressRetention(0);
            later.Finish(ProgressState::kDone, nullptr, 0);
            SetProgressRetention(kmsRetention);
            break;
        }
        case Sweeper::kDetach:
            ASSERT_TRUE(RestartModule());
            break;
        }
        EXPECT_EQ(0u, KeptProgressCount());
        EXPECT_FALSE(SectionExists(strId));
        EXPECT_EQ(S_OK, DllCanUnloadNow());
    }
}

TEST_F(ProgressLifetime, WithoutRetentionTheRecordGoesWithItsWriter) {
    SetProgressRetention(0);
    const std::wstring strId = TestId(L"gone");
    ProgressWriter writer;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strId, 5));
    ProgressReport report;
    EXPECT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
    writer.Finish(ProgressState::kDone, nullptr, 0);
    EXPECT_EQ(ProgressReadStatus::kUnknown, Read(strId, &report));
    EXPECT_EQ(0u, KeptProgressCount());
}

// How an upload ends: Finish, or the writer going without a word.
struct EndingCase {
    const char* pszWhat;
    std::uint64_t cbRead;
    bool bFinish;
    ProgressState state;
    bool bKept;
};

TEST_F(ProgressLifetime, AnUploadEndedShortOfDoneBeforeItsFirstByteIsNotKept) {
    const EndingCase cases[] = {
        {"refused at once", 0, true, ProgressState::kRefused, false},
        {"failed at once", 0, true, ProgressState::kFailed, false},
        {"dropped at once", 0, false, ProgressState::kFailed, false},
        {"refused after a byte", 1, true, ProgressState::kRefused, true},
        {"dropped after a byte", 1, false, ProgressState::kFailed, true},
        {"done", 5, true, ProgressState::kDone, true},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(RestartModule());
        const std::wstring strId = TestId(L"ending");
        {
            ProgressWriter writer;
            ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strId, 5));
            ASSERT_TRUE(SectionExists(strId));
            if (c.cbRead) writer.Advance(c.cbRead);
            if (c.bFinish) writer.Finish(c.state, L"m", 1);
        }
        EXPECT_EQ(c.bKept, SectionExists(strId));
        EXPECT_EQ(c.bKept ? 1u : 0u, KeptProgressCount());
        EXPECT_EQ(c.bKept ? S_FALSE : S_OK, DllCanUnloadNow());
        ProgressReport report;
        EXPECT_EQ(c.bKept ? ProgressReadStatus::kOk : ProgressReadStatus::kUnknown, Read(strId, &report));
        if (c.bKept) EXPECT_EQ(static_cast<std::uint32_t>(c.state), report.record.nState);
    }
}

TEST_F(ProgressLifetime, AtTheCapTheOldestEndedRecordsGoFirst) {
    constexpr DWORD kExtra = 3;
    std::vector<std::wstring> ids;
    for (DWORD i = 0; i < kMaxKeptRecords + kExtra; ++i) {
        ids.push_back(TestId(L"cap"));
        ProgressWriter writer;
        ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, ids.back(), 1))
            << "record " << i << ", system error " << writer.SystemError();
        writer.Advance(1);
        writer.Finish(ProgressState::kDone, nullptr, 0);
        ASSERT_EQ(i < kMaxKeptRecords ? i + 1 : kMaxKeptRecords, KeptProgressCount());
    }
    ProgressReport report;
    for (DWORD i = 0; i < kExtra; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(SectionExists(ids[i])) << "pushed out";
        EXPECT_EQ(ProgressReadStatus::kUnknown, Read(ids[i], &report));
    }
    for (const DWORD i : {kExtra, DWORD{kMaxKeptRecords / 2}, DWORD{kMaxKeptRecords + kExtra - 1}}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ProgressReadStatus::kOk, Read(ids[i], &report));
        EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kDone), report.record.nState);
    }
    // A record ended again under a kept id takes no more room.
    ProgressWriter again;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(again, ids[kExtra], 1));
    again.Advance(1);
    again.Finish(ProgressState::kDone, nullptr, 0);
    EXPECT_EQ(kMaxKeptRecords, KeptProgressCount());
    EXPECT_TRUE(SectionExists(ids[kExtra + 1])) << "the next oldest stays";
}

TEST_F(ProgressLifetime, AnIdBeingReadIsNotTakenOverButAnEndedOneIs) {
    const std::wstring strId = TestId(L"busy");
    ProgressWriter first;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(first, strId, 100));
    first.Advance(10);
    ProgressWriter second;
    EXPECT_EQ(ProgressWriter::Status::kInUse, Begin(second, strId, 999));
    EXPECT_FALSE(second.Active());
    second.Advance(50);  // goes on without progress
    second.Finish(ProgressState::kFailed, L"x", 1);
    EXPECT_EQ(ProgressWriter::Status::kInUse, Begin(first, strId, 5)) << "a writer begins once";

    const std::wstring strMessage = L"ファイルが MaxFileBytes (10 バイト) を超えています。";
    first.Finish(ProgressState::kRefused, strMessage.data(), strMessage.size());
    ProgressReport report;
    ASSERT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kRefused), report.record.nState);
    EXPECT_EQ(10u, report.record.cbRead);
    EXPECT_EQ(100u, report.record.cbTotal);
    EXPECT_EQ(strMessage, Text(report.record.szMessage));
    EXPECT_EQ(L"refused", Text(ProgressStateName(ProgressState::kRefused)));

    ProgressWriter third;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(third, strId, 77));
    ASSERT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kReading), report.record.nState);
    EXPECT_EQ(0u, report.record.cbRead);
    EXPECT_EQ(77u, report.record.cbTotal);
    EXPECT_EQ(L"", Text(report.record.szMessage));
    EXPECT_EQ(0u, report.record.ftEnded);
    third.Finish(ProgressState::kDone, nullptr, 0);
    EXPECT_EQ(1u, KeptProgressCount()) << "one entry per id";
}

TEST_F(ProgressLifetime, AWriterThatNeverSaidHowItEndedRecordsAFailure) {
    const std::wstring strId = TestId(L"dropped");
    {
        ProgressWriter writer;
        ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strId, 3 * kcbProgressStep));
        const std::wstring strField = L"写真", strFile(kcchProgressFile + 20, L'長');
        writer.FileStarted(strField.data(), strField.size(), strFile.data(), strFile.size());
        writer.Advance(2 * kcbProgressStep);
        ProgressReport report;
        ASSERT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
        EXPECT_EQ(L"写真", Text(report.record.szField));
        EXPECT_EQ(std::wstring(kcchProgressFile, L'長'), Text(report.record.szFile));
        EXPECT_NEAR(200.0 / 3, report.figures.dblPercent, 1e-9);
    }
    ProgressReport report;
    ASSERT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
    EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kFailed), report.record.nState);
    EXPECT_EQ(2 * kcbProgressStep, report.record.cbRead);
    EXPECT_NE(0u, report.record.ftEnded);
    EXPECT_EQ(0.0, report.figures.dblRemainingSeconds);
}

}  // namespace

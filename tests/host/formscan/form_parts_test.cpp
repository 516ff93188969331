// FormParts: small bodies for each rule (a table), the captured browser
// bodies, re-use and moves of an index, the module heap under injected
// failures, and the windowed search that lets bodies reach 4 GiB.
#include "formscan/form_parts.h"

#include <gtest/gtest.h>

#include "formscan/byte_search.h"
#include "testing/plain_search.h"
#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/heap_failure_test.h"
#include "tests/host/formscan/parts_cases.h"
#include "tests/host/formscan/parts_helpers.h"
#include "tests/host/formscan/scan_helpers.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace parts_test;

struct Outcome {
    PartsResult result;
    Parts parts;
};

Outcome ParseBody(const std::string& text, std::uint32_t nMax, FormParts& parts) {
    ExactBody body(text);
    const PartsResult result = parts.Parse(body.data(), static_cast<std::uint32_t>(body.size()), nMax);
    return Outcome{result, Listing(parts, body.data())};
}

// The same body copied with its delimiters found on the way, then indexed
// with them, as a load does.
Outcome ParseCopied(const std::string& text, std::uint32_t nMax) {
    std::vector<unsigned char> copy(text.size() + 1);
    DelimiterList delimiters;
    EXPECT_TRUE(delimiters.CopyAndFind(copy.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<std::uint32_t>(text.size())));
    EXPECT_EQ(0, std::memcmp(copy.data(), text.data(), text.size())) << "the copy is exact";
    FormParts parts;
    const PartsResult result = parts.Parse(copy.data(), static_cast<std::uint32_t>(text.size()), nMax, &delimiters);
    return Outcome{result, Listing(parts, copy.data())};
}

class PartsTable : public ::testing::TestWithParam<Case> {};

TEST_P(PartsTable, ListsEveryPart) {
    const Case& c = GetParam();
    FormParts parts;
    const long lLive = TestHeapLiveBlocks();
    const Outcome outcome = ParseBody(c.body, c.nMax, parts);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.parts, c.parts);
    if (c.result != PartsResult::kOk) {
        EXPECT_EQ(parts.Count(), 0u);
        EXPECT_EQ(TestHeapLiveBlocks(), lLive) << "a failed parse holds no memory";
    }
    // A second parse into the same index gives the same listing.
    const Outcome again = ParseBody(c.body, c.nMax, parts);
    EXPECT_EQ(again.result, outcome.result);
    EXPECT_EQ(again.parts, outcome.parts);
    // So do the delimiters found while copying.
    const Outcome copied = ParseCopied(c.body, c.nMax);
    EXPECT_EQ(copied.result, outcome.result);
    EXPECT_EQ(copied.parts, outcome.parts);
}

// Delimiters found while copying in pieces: one that straddles the end of a
// piece, at every offset around it, and lookalikes there, are found as the
// whole-body search finds them.
TEST(DelimiterList, MatchesAcrossPieceEdges) {
    constexpr std::size_t kcbPiece = 256u << 10;
    const std::string delimiter = "\r\n--AaB03x";
    for (std::size_t lAt = kcbPiece - delimiter.size() - 1; lAt <= kcbPiece + 1; ++lAt) {
        SCOPED_TRACE(lAt);
        const std::string head = TextPart("a", "1");
        // A file whose content ends where the next delimiter is to begin,
        // holding a lookalike (the delimiter without its CR LF) just before.
        const std::string prefix = std::string("--AaB03x") +
                                   "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n\r\n";
        std::string content(lAt - head.size() - prefix.size(), 'x');
        content.replace(content.size() - delimiter.size() - 3, delimiter.size() - 2, delimiter.substr(2));
        const std::string text = head + prefix + content + "\r\n" + kClose + std::string(300, 'e');
        FormParts parts;
        const Outcome whole = ParseBody(text, 0, parts);
        ASSERT_EQ(whole.result, PartsResult::kOk);
        ASSERT_EQ(whole.parts.size(), 2u);
        const Outcome copied = ParseCopied(text, 0);
        EXPECT_EQ(copied.result, whole.result);
        EXPECT_EQ(copied.parts, whole.parts);
    }
}

INSTANTIATE_TEST_SUITE_P(FormParts, PartsTable, ::testing::ValuesIn(kPartsCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

class CapturedParts : public ::testing::TestWithParam<const char*> {};

TEST_P(CapturedParts, BrowserForm) {
    const std::string text = Request(GetParam());
    ASSERT_GT(text.size(), 1000u) << GetParam();
    FormParts parts;
    const Outcome outcome = ParseBody(text, 8, parts);
    ASSERT_EQ(outcome.result, PartsResult::kOk);
    const Parts expected = {
        Field("title", "hello"),
        Field("comment", "line one\r\nline two"),
        Field("color", "red"),
        Field("color", ""),
        Field("color", "blue"),
        Upload("empty", "", "application/octet-stream", ""),
        Upload("upload", "hello.txt", "text/plain", Request("hello.txt")),
        Upload("data", "bytes.bin", "application/octet-stream", Request("bytes.bin")),
    };
    EXPECT_EQ(outcome.parts, expected);
    EXPECT_EQ(ParseBody(text, 7, parts).result, PartsResult::kTooManyParts);
}

INSTANTIATE_TEST_SUITE_P(FormParts, CapturedParts,
                         ::testing::Values("chromium-form.bin", "firefox-form.bin", "curl-form.bin"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name(info.param);
                             return name.substr(0, name.find('-'));
                         });

TEST(CapturedParts, ShiftJisForm) {
    for (const char* file : {"chromium-sjis.bin", "firefox-sjis.bin"}) {
        SCOPED_TRACE(file);
        const std::string text = Request(file);
        ASSERT_GT(text.size(), 300u);
        FormParts parts;
        const Outcome outcome = ParseBody(text, 0, parts);
        ASSERT_EQ(outcome.result, PartsResult::kOk);
        const Parts expected = {
            Field("\x96\xBC\x91\x4F", "\x93\x63\x92\x86\x20\x91\xBE\x98\x59"),  // 名前 = 田中 太郎
            Field("\x95\x5C", "\x83\x5C\x83\x74\x83\x67"),                      // 表 = ソフト
            Upload("\x93\x59\x95\x74", "\x95\x5C.txt", "text/plain", Request("sjis-file.txt")),  // 添付, 表.txt
        };
        EXPECT_EQ(outcome.parts, expected);
    }
}

TEST(FormPartsIndex, ReuseAndMoves) {
    const std::string one = TextPart("a", "1") + kClose;
    const std::string two = TextPart("b", "2") + FilePart("c", "f.txt", "text/plain", "3") + kClose;
    const long lLive = TestHeapLiveBlocks();
    {
        FormParts parts;
        EXPECT_EQ(parts.Count(), 0u);
        EXPECT_EQ(ParseBody(two, 0, parts).parts.size(), 2u);
        EXPECT_EQ(ParseBody(one, 0, parts).parts, Parts{Field("a", "1")});

        // Parse into a fresh index, swap it in only on success.
        FormParts fresh;
        ExactBody body(two);
        ASSERT_EQ(fresh.Parse(body.data(), static_cast<std::uint32_t>(body.size()), 0), PartsResult::kOk);
        parts = static_cast<FormParts&&>(fresh);
        EXPECT_EQ(fresh.Count(), 0u);
        EXPECT_EQ(fresh.TextSize(), 0u);
        const Parts expected = {Field("b", "2"), Upload("c", "f.txt", "text/plain", "3")};
        EXPECT_EQ(Listing(parts, body.data()), expected);
        FormParts moved(static_cast<FormParts&&>(parts));
        EXPECT_EQ(parts.Count(), 0u);
        EXPECT_EQ(Listing(moved, body.data()), expected);

        // A failed parse empties an index that held parts.
        EXPECT_EQ(ParseBody(TextPart("a", "1"), 0, moved).result, PartsResult::kNoClosingLine);
        EXPECT_EQ(moved.Count(), 0u);
        EXPECT_EQ(moved.TextSize(), 0u);
    }
    EXPECT_EQ(TestHeapLiveBlocks(), lLive);
}

TEST(FormPartsIndex, ManyPartsAndLongTexts) {
    // Past the first capacities of both the part array and the text store.
    std::string text;
    Parts expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "field" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7) * 50, 'x');
        const std::string value = std::string(static_cast<std::size_t>(i % 5), 'v') + "\r\n--AaB03";
        text += TextPart(name, value);
        expected.push_back(Field(name, value));
    }
    text += kClose;
    FormParts parts;
    const Outcome outcome = ParseBody(text, 1000, parts);
    ASSERT_EQ(outcome.result, PartsResult::kOk);
    EXPECT_EQ(outcome.parts, expected);
    EXPECT_EQ(ParseBody(text, 999, parts).result, PartsResult::kTooManyParts);
}

using PartsHeapFailure = HeapFailureTest;

TEST_F(PartsHeapFailure, EveryFailurePointGivesNoMemory) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += FilePart(std::string(static_cast<std::size_t>(i) * 20, 'n'), "f.bin", "a/b", "x");
    text += kClose;
    FormParts reference;
    const Outcome expected = ParseBody(text, 0, reference);
    ASSERT_EQ(expected.result, PartsResult::kOk);

    int nFailurePoints = 0;
    for (long n = 0;; ++n) {
        ASSERT_LT(n, 1000) << "the parse never succeeds";
        FormParts parts;
        const long lLive = TestHeapLiveBlocks();
        TestHeapFailAfter(n);
        const Outcome outcome = ParseBody(text, 0, parts);
        TestHeapFailAfter(-1);
        if (outcome.result == PartsResult::kOk) {
            EXPECT_EQ(outcome.parts, expected.parts);
            break;
        }
        ++nFailurePoints;
        EXPECT_EQ(outcome.result, PartsResult::kNoMemory) << "failure at allocation " << n;
        EXPECT_EQ(parts.Count(), 0u);
        EXPECT_EQ(TestHeapLiveBlocks(), lLive) << "block left after a failure at allocation " << n;
    }
    // Part array 16 -> 32 -> 64, text store 256 -> ... -> 32 KB: growth is
    // geometric, so a handful of allocations.
    EXPECT_GE(nFailurePoints, 4);
    EXPECT_LE(nFailurePoints, 12);
}

TEST_F(PartsHeapFailure, FailureInAReusedIndexEmptiesIt) {
    FormParts parts;
    const long lLive = TestHeapLiveBlocks();
    ASSERT_EQ(ParseBody(TextPart("a", "1") + kClose, 0, parts).result, PartsResult::kOk);
    std::string big;
    for (int i = 0; i < 100; ++i) big += TextPart("b", "2");
    big += kClose;
    TestHeapFailAfter(0);
    EXPECT_EQ(ParseBody(big, 0, parts).result, PartsResult::kNoMemory);
    TestHeapFailAfter(-1);
    EXPECT_EQ(parts.Count(), 0u);
    EXPECT_EQ(TestHeapLiveBlocks(), lLive);
}

// The windowed search gives exactly the whole-range search's result, with
// matches on, across and just past the window edges.
TEST(ByteSearchWide, SameAsOneSearch) {
    std::string data(300, 'a');
    for (std::size_t at : {0u, 15u, 31u, 63u, 64u, 100u, 127u, 128u, 290u, 295u}) data.replace(at, 5, "\r\n--b");
    const auto* pb = reinterpret_cast<const unsigned char*>(data.data());
    const auto* pattern = reinterpret_cast<const unsigned char*>("\r\n--b");
    for (std::uint32_t cbWindow : {6u, 7u, 16u, 64u, 65u, 1000u}) {
        for (std::uint32_t lStart = 0; lStart <= 300; ++lStart) {
            for (std::uint32_t lEnd : {lStart, lStart + 4, lStart + 5, lStart + 40, 300u}) {
                if (lEnd > 300 || lEnd < lStart) continue;
                const std::int32_t lPlain = PlainByteSearch(pattern, 5, pb, static_cast<std::int32_t>(lStart),
                                                            static_cast<std::int32_t>(lEnd));
                const std::uint32_t lExpected =
                    lPlain < 0 ? kByteSearchNone : lStart + static_cast<std::uint32_t>(lPlain);
                ASSERT_EQ(ByteSearchWide(pattern, 5, pb, lStart, lEnd, cbWindow), lExpected)
                    << "window " << cbWindow << ", range " << lStart << ".." << lEnd;
            }
        }
    }
}

}  // namespace

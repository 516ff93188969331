// FormParts: small bodies for each rule (a table), the captured browser
// bodies, re-use and moves of an index, the module heap under injected
// failures, and the windowed search that lets bodies reach 4 GiB.
#include "formscan/form_parts.h"

#include <gtest/gtest.h>

#include "formscan/byte_search.h"
#include "testing/plain_search.h"
#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/parts_helpers.h"
#include "tests/host/formscan/scan_helpers.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef VARO_FORMSCAN_FIXTURES
#error "VARO_FORMSCAN_FIXTURES must name tests/fixtures/formscan"
#endif

namespace {

using Parts = std::vector<SeenPart>;
constexpr std::uint32_t kFile = kPartHasFileName;
constexpr std::uint32_t kUtf8File = kPartHasFileName | kPartFileNameUtf8;

SeenPart Field(const std::string& name, const std::string& value) { return SeenPart{name, "", "", value, 0}; }
SeenPart Upload(const std::string& name, const std::string& file, const std::string& type, const std::string& value,
                std::uint32_t flags = kFile) {
    return SeenPart{name, file, type, value, flags};
}

// A part with the given Content-Disposition parameters (after "form-data").
std::string Disposed(const std::string& params, const std::string& value, const std::string& more = "") {
    return "--AaB03x\r\nContent-Disposition: form-data" + params + "\r\n" + more + "\r\n" + value + "\r\n";
}

struct Case {
    const char* what;
    std::string body;
    std::uint32_t nMax;
    PartsResult result;
    Parts parts;
};

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

const std::string kLongName(100000, 'n');
const std::string kBoundary200(200, 'b');
const std::string kBoundary201(201, 'b');

const Case kCases[] = {
    // Delimiter lines.
    {"two fields", TextPart("a", "1") + TextPart("b", "") + kClose, 0, PartsResult::kOk, {Field("a", "1"), Field("b", "")}},
    {"value keeps its own CR LF", TextPart("a", "x\r\n") + kClose, 0, PartsResult::kOk, {Field("a", "x\r\n")}},
    {"lookalike not after CR LF", TextPart("a", "x--AaB03x\r\ny--AaB03x--") + kClose, 0, PartsResult::kOk,
     {Field("a", "x--AaB03x\r\ny--AaB03x--")}},
    {"lookalike of a longer boundary", TextPart("a", "x\r\n--AaB03xY\r\n\r\n--AaB03x \tz") + kClose, 0,
     PartsResult::kOk, {Field("a", "x\r\n--AaB03xY\r\n\r\n--AaB03x \tz")}},
    {"transport padding", "--AaB03x \t\r\n" + Disposed("; name=a", "1").substr(10) + "--AaB03x\t \r\n" +
                              Disposed("; name=b", "2").substr(10) + "--AaB03x--  \r\n",
     0, PartsResult::kOk, {Field("a", "1"), Field("b", "2")}},
    {"epilogue ignored", TextPart("a", "1") + "--AaB03x--junk\r\n--AaB03x\r\nno headers\n", 0, PartsResult::kOk,
     {Field("a", "1")}},
    {"closing line without CR LF", TextPart("a", "1") + "--AaB03x--", 0, PartsResult::kOk, {Field("a", "1")}},
    {"only the closing line", kClose, 0, PartsResult::kOk, {}},
    {"only the closing line, no CR LF", "--AaB03x--", 0, PartsResult::kOk, {}},
    {"boundary of 200 bytes", TextPart("a", "1", "--" + kBoundary200) + "--" + kBoundary200 + "--", 0,
     PartsResult::kOk, {Field("a", "1")}},
    {"boundary of one byte", TextPart("a", "1", "--x") + "--x--", 0, PartsResult::kOk, {Field("a", "1")}},
    {"boundary of 201 bytes", TextPart("a", "1", "--" + kBoundary201) + "--" + kBoundary201 + "--", 0,
     PartsResult::kNotMultipart, {}},
    {"empty body", "", 0, PartsResult::kNotMultipart, {}},
    {"no delimiter", "hello", 0, PartsResult::kNotMultipart, {}},
    {"empty boundary", "--\r\n\r\n\r\n--\r\n", 0, PartsResult::kNotMultipart, {}},
    {"first line without line end", "--AaB03x", 0, PartsResult::kNotMultipart, {}},
    {"preamble", "preamble\r\n" + TextPart("a", "1") + kClose, 0, PartsResult::kNotMultipart, {}},
    {"bare LF after the first delimiter", "--AaB03x\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n" + kClose,
     0, PartsResult::kBadLineEndings, {}},
    {"bare LF after a later delimiter", TextPart("a", "1") + "--AaB03x\n" + kClose, 0, PartsResult::kBadLineEndings,
     {}},
    {"bare LF after padding", TextPart("a", "1") + "--AaB03x  \n" + kClose, 0, PartsResult::kBadLineEndings, {}},
    {"bare LF ends a header line", "--AaB03x\r\nContent-Disposition: form-data; name=a\n\r\n1\r\n" + kClose, 0,
     PartsResult::kBadLineEndings, {}},
    {"bare LF as the blank line", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n\n1\r\n" + kClose, 0,
     PartsResult::kBadLineEndings, {}},
    {"LF-only body", "--AaB03x\nContent-Disposition: form-data; name=a\n\n1\n--AaB03x--\n", 0,
     PartsResult::kBadLineEndings, {}},
    {"no closing line", TextPart("a", "1") + TextPart("b", "2"), 0, PartsResult::kNoClosingLine, {}},
    {"cut inside a value", TextPart("a", "1") + "--AaB03x\r\nContent-Disposition: form-data; name=b\r\n\r\n12", 0,
     PartsResult::kNoClosingLine, {}},
    {"cut after a delimiter", TextPart("a", "1") + "--AaB03x", 0, PartsResult::kNoClosingLine, {}},
    // Header blocks.
    {"no blank line", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n" + kClose, 0, PartsResult::kBadHeaders,
     {}},
    {"header line without a colon", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\nbroken\r\n\r\n1\r\n" + kClose,
     0, PartsResult::kBadHeaders, {}},
    {"two delimiter lines in a row", "--AaB03x\r\n--AaB03x\r\n" + TextPart("a", "1").substr(10) + kClose, 0,
     PartsResult::kBadHeaders, {}},
    {"folded line with nothing before it", "--AaB03x\r\n name=a\r\n\r\n1\r\n" + kClose, 0, PartsResult::kBadHeaders,
     {}},
    {"no headers at all", "--AaB03x\r\n\r\nv\r\n" + kClose, 0, PartsResult::kOk, {Field("", "v")}},
    {"folded headers", "--AaB03x\r\nContent-Disposition: form-data;\r\n\tname=\"a\r\n b\";\r\n filename=f\r\n"
                       "Content-Type:\r\n text/plain\r\n\r\nv\r\n" + kClose,
     0, PartsResult::kOk, {Upload("a b", "f", "text/plain", "v")}},
    {"names and parameters in any case", "--AaB03x\r\nCONTENT-TYPE :  Text/Plain; charset=UTF-8 \t\r\n"
                                         "content-disposition: Form-Data; NAME=\"a\"; FileName=\"f\"\r\n\r\nv\r\n" +
                                             kClose,
     0, PartsResult::kOk, {Upload("a", "f", "Text/Plain; charset=UTF-8", "v")}},
    {"first of each header", Disposed("; name=a", "v", "Content-Type: x/1\r\nContent-Disposition: form-data; "
                                                       "name=b\r\nContent-Type: x/2\r\nX-Other: y\r\n") +
         kClose,
     0, PartsResult::kOk, {SeenPart{"a", "", "x/1", "v", 0}}},
    // Content-Disposition parameters.
    {"escaped quote and ';' inside quotes", Disposed("; name=\"a\\\"b;c\"", "1") + kClose, 0, PartsResult::kOk,
     {Field("a\"b;c", "1")}},
    {"escaped backslash", Disposed("; name=\"a\\\\b\"", "1") + kClose, 0, PartsResult::kOk, {Field("a\\b", "1")}},
    {"Windows path kept", Disposed("; name=f; filename=\"C:\\dir\\x.txt\"", "1") + kClose, 0, PartsResult::kOk,
     {Upload("f", "C:\\dir\\x.txt", "", "1")}},
    {"Shift_JIS 0x5C before the closing quote", Disposed("; name=\"\x95\x5C\"", "1") +
                                                   Disposed("; name=\"\x95\x5C\"; filename=\"\x95\x5C\"", "2") +
                                                   Disposed("; name=\"\x95\x5C\x95\x5C\" ; filename=\"\"", "3") + kClose,
     0, PartsResult::kOk,
     {Field("\x95\x5C", "1"), Upload("\x95\x5C", "\x95\x5C", "", "2"), Upload("\x95\x5C\x95\x5C", "", "", "3")}},
    {"unterminated quote runs to the end", Disposed("; filename=x; name=\"ab ", "1") + kClose, 0, PartsResult::kOk,
     {Upload("ab ", "x", "", "1")}},
    {"tokens and blanks", Disposed(" ;name = a b ;  filename= x y.txt ;junk; =z", "1") + kClose, 0,
     PartsResult::kOk, {Upload("a b", "x y.txt", "", "1")}},
    {"first of each parameter", Disposed("; name=a; name=b; filename=c; filename=d", "1") + kClose, 0,
     PartsResult::kOk, {Upload("a", "c", "", "1")}},
    {"empty and missing names", Disposed("; name=\"\"", "1") + Disposed("", "2") + Disposed("; name=", "3") +
                                    TextPart("x", "4").replace(10, 20, "X-Header:") + kClose,
     0, PartsResult::kOk, {Field("", "1"), Field("", "2"), Field("", "3"), Field("", "4")}},
    {"empty file name", Disposed("; name=e; filename=\"\"", "", "Content-Type: application/octet-stream\r\n") + kClose,
     0, PartsResult::kOk, {Upload("e", "", "application/octet-stream", "")}},
    {"very long name", Disposed("; name=\"" + kLongName + "\"", "1") + kClose, 0, PartsResult::kOk,
     {Field(kLongName, "1")}},
    // filename* (RFC 5987).
    {"filename* preferred, before or after filename",
     Disposed("; name=a; filename=\"a.txt\"; filename*=UTF-8''%E2%82%AC%20x.txt", "1") +
         Disposed("; name=b; filename*=utf-8'en'%c3%a9; filename=b.txt", "2") + kClose,
     0, PartsResult::kOk, {Upload("a", "\xE2\x82\xAC x.txt", "", "1", kUtf8File), Upload("b", "\xC3\xA9", "", "2", kUtf8File)}},
    {"filename* alone, quoted", Disposed("; name=a; filename*=\"UTF-8''%E6%97%A5.txt\"", "1") + kClose, 0,
     PartsResult::kOk, {Upload("a", "\xE6\x97\xA5.txt", "", "1", kUtf8File)}},
    {"filename* in another charset falls back", Disposed("; name=a; filename*=ISO-8859-1''%A3.txt; filename=b.txt", "1") +
                                                    Disposed("; name=c; filename*=ISO-8859-1''%A3.txt", "2") + kClose,
     0, PartsResult::kOk, {Upload("a", "b.txt", "", "1"), Upload("c", "ISO-8859-1''%A3.txt", "", "2")}},
    {"malformed filename* falls back",
     Disposed("; name=a; filename*=UTF-8''%G1; filename=b.txt", "1") + Disposed("; name=c; filename*=UTF-8''%4", "2") +
         Disposed("; name=d; filename*=UTF-8'x", "3") + Disposed("; name=e; filename*=UTF-8''%FF; filename=f", "4") +
         Disposed("; name=g; filename*=UTF-8''%C0%AF", "5") + Disposed("; name=h; filename*=UTF-8''%ED%A0%80", "6") +
         kClose,
     0, PartsResult::kOk,
     {Upload("a", "b.txt", "", "1"), Upload("c", "UTF-8''%4", "", "2"), Upload("d", "UTF-8'x", "", "3"),
      Upload("e", "f", "", "4"), Upload("g", "UTF-8''%C0%AF", "", "5"), Upload("h", "UTF-8''%ED%A0%80", "", "6")}},
    // The part limit counts the parts seen.
    {"parts at the limit", TextPart("a", "1") + TextPart("b", "2") + kClose, 2, PartsResult::kOk,
     {Field("a", "1"), Field("b", "2")}},
    {"one part over the limit", TextPart("a", "1") + TextPart("b", "2") + kClose, 1, PartsResult::kTooManyParts, {}},
    {"zero parts under a limit", kClose, 1, PartsResult::kOk, {}},
};

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

INSTANTIATE_TEST_SUITE_P(FormParts, PartsTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

std::string Request(const std::string& file) {
    std::ifstream in(std::string(VARO_FORMSCAN_FIXTURES) + "/../requests/" + file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

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

class PartsHeapFailure : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestCanInjectFailures()) GTEST_SKIP() << "no allocation-failure injection in this build";
    }
    void TearDown() override {
        if (TestCanInjectFailures()) TestHeapFailAfter(-1);
    }
};

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

// PartStream: the body in pieces gives what FormParts::Parse gives for the
// whole body (result, index, values), wherever the pieces are cut: a table
// of cuts at the hard places, every body of the FormParts tests and the
// captured ones in pieces of many sizes, broken bodies whose errors wait for
// a part's delimiter; then what only a stream gives: kStopped, kLineTooLong,
// kTooLarge, and kNoMemory at every allocation.
#include "formscan/part_stream.h"

#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/heap_failure_test.h"
#include "tests/host/formscan/parts_cases.h"
#include "tests/host/formscan/parts_helpers.h"
#include "tests/host/formscan/scan_helpers.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace parts_test;

// Records what the stream tells its sink, checking the order of the calls;
// refuses the call numbered nRefuse (counted from 0) when asked to.
class RecordingSink : public PartSink {
public:
    explicit RecordingSink(long nRefuse = -1, bool bKeepValues = true)
        : m_nRefuse(nRefuse), m_bKeepValues(bKeepValues) {}

    bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) override {
        EXPECT_FALSE(m_bInPart) << "PartBegins inside a part";
        EXPECT_EQ(iPart, begun.size());
        begun.push_back(Texts(part, pbText));
        m_bInPart = true;
        return Answer();
    }
    bool PartData(const unsigned char* pb, std::uint32_t cb) override {
        EXPECT_TRUE(m_bInPart) << "PartData outside a part";
        EXPECT_GT(cb, 0u);
        if (m_bKeepValues && !begun.empty()) begun.back().value.append(reinterpret_cast<const char*>(pb), cb);
        cbData += cb;
        return Answer();
    }
    bool PartEnds() override {
        EXPECT_TRUE(m_bInPart) << "PartEnds outside a part";
        m_bInPart = false;
        ++nEnded;
        return Answer();
    }
    void PartDropped() override {
        EXPECT_TRUE(m_bInPart) << "PartDropped outside a part";
        EXPECT_EQ(begun.size(), 1u) << "only the first part is dropped";
        EXPECT_EQ(nEnded, 0u);
        if (!begun.empty()) begun.pop_back();
        m_bInPart = false;
        ++nDropped;
    }

    std::vector<SeenPart> begun;  // names and the values received
    std::uint64_t cbData = 0;
    std::uint32_t nEnded = 0, nDropped = 0;
    long nCalls = 0;

private:
    bool Answer() {
        if (m_nRefuse >= 0) EXPECT_LE(nCalls, m_nRefuse) << "a call after the sink refused";
        return nCalls++ != m_nRefuse;
    }
    long m_nRefuse;
    bool m_bKeepValues;
    bool m_bInPart = false;
};

struct Outcome {
    PartsResult result;
    Parts parts;
};

Outcome Whole(const std::string& text, std::uint32_t nMax) {
    ExactBody body(text);
    FormParts parts;
    const PartsResult result = parts.Parse(body.data(), static_cast<std::uint32_t>(body.size()), nMax);
    return Outcome{result, Listing(parts, body.data())};
}

// Feeds text cut at the ascending offsets in cuts (each piece in its own
// exact-size block), then ends it; a stream told the boundary named, if any.
// The listing has the index's texts and the values the sink received,
// checked against the index's lengths.
Outcome Streamed(const std::string& text, std::uint32_t nMax, const std::vector<std::size_t>& cuts,
                 RecordingSink& sink, const std::string& named = std::string()) {
    PartStream stream(nMax, &sink);
    if (!named.empty())
        EXPECT_TRUE(stream.NameBoundary(reinterpret_cast<const unsigned char*>(named.data()),
                                        static_cast<std::uint32_t>(named.size())));
    PartsResult result = PartsResult::kOk;
    std::size_t lFrom = 0;
    for (std::size_t i = 0; i <= cuts.size() && result == PartsResult::kOk; ++i) {
        const std::size_t lTo = i < cuts.size() ? cuts[i] : text.size();
        if (lTo < lFrom) {
            ADD_FAILURE() << "cuts out of order";
            break;
        }
        ExactBody piece(text.substr(lFrom, lTo - lFrom));
        result = stream.Write(piece.data(), static_cast<std::uint32_t>(piece.size()));
        lFrom = lTo;
    }
    if (result == PartsResult::kOk) {
        result = stream.End();
    } else {
        // A result other than kOk is final.
        const unsigned char ab[] = {'\r', '\n', '-', '-'};
        EXPECT_EQ(stream.Write(ab, sizeof ab), result);
        EXPECT_EQ(stream.End(), result);
    }
    EXPECT_EQ(stream.End(), result) << "End again";
    EXPECT_EQ(stream.Complete(), result == PartsResult::kOk);

    Outcome outcome{result, {}};
    const FormParts parts = stream.TakeParts();
    if (result != PartsResult::kOk) {
        EXPECT_EQ(parts.Count(), 0u);
        return outcome;
    }
    EXPECT_EQ(sink.nEnded, parts.Count());
    EXPECT_EQ(sink.begun.size(), parts.Count());
    for (std::uint32_t i = 0; i < parts.Count(); ++i) {
        const FormPart& p = parts.Part(i);
        SeenPart s = Texts(p, parts.Text());
        EXPECT_EQ(p.valueOffset, 0u);
        if (i < sink.begun.size()) {
            s.value = sink.begun[i].value;
            EXPECT_EQ(p.valueLength, s.value.size());
            SeenPart told = sink.begun[i];
            EXPECT_EQ(told, s) << "the sink was told the index's texts";
        }
        outcome.parts.push_back(s);
    }
    return outcome;
}

Outcome Streamed(const std::string& text, std::uint32_t nMax, const std::vector<std::size_t>& cuts,
                 const std::string& named = std::string()) {
    RecordingSink sink;
    return Streamed(text, nMax, cuts, sink, named);
}

PartsResult WriteText(PartStream& stream, const std::string& text) {
    return stream.Write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()));
}

std::vector<std::size_t> EveryByte(const std::string& text) {
    std::vector<std::size_t> cuts;
    for (std::size_t l = 1; l < text.size(); ++l) cuts.push_back(l);
    return cuts;
}

std::vector<std::size_t> Pieces(const std::string& text, std::size_t cbPiece) {
    std::vector<std::size_t> cuts;
    for (std::size_t l = cbPiece; l < text.size(); l += cbPiece) cuts.push_back(l);
    return cuts;
}

// Cut points at random, from a fixed seed.
std::vector<std::size_t> RandomCuts(const std::string& text, std::uint64_t& state, std::size_t nCuts) {
    std::vector<std::size_t> cuts;
    if (text.size() < 2) return cuts;
    for (std::size_t i = 0; i < nCuts; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        cuts.push_back(1 + static_cast<std::size_t>((state >> 33) % (text.size() - 1)));
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

// The whole-body parse's outcome, or, for a body long enough to hold a
// first line, header block or padding past the stream's limit, kLineTooLong.
void ExpectSame(const Outcome& streamed, const Outcome& whole, const std::string& text) {
    if (streamed.result == PartsResult::kLineTooLong && text.size() > kcbMaxStreamHeld) return;
    EXPECT_EQ(streamed.result, whole.result);
    EXPECT_EQ(streamed.parts, whole.parts);
}

// Every way of cutting the body the differential tests use.
void ExpectSameInPieces(const std::string& text, std::uint32_t nMax) {
    const Outcome whole = Whole(text, nMax);
    const long lLive = TestHeapLiveBlocks();
    {
        SCOPED_TRACE("whole");
        ExpectSame(Streamed(text, nMax, {}), whole, text);
    }
    {
        SCOPED_TRACE("a byte at a time");
        ExpectSame(Streamed(text, nMax, EveryByte(text)), whole, text);
    }
    for (std::size_t cbPiece : {2u, 3u, 5u, 7u, 11u, 16u, 64u, 203u, 4096u, 65537u}) {
        if (cbPiece >= text.size()) break;
        SCOPED_TRACE("pieces of " + std::to_string(cbPiece));
        ExpectSame(Streamed(text, nMax, Pieces(text, cbPiece)), whole, text);
    }
    std::uint64_t state = 20240611;
    for (int i = 0; i < 24; ++i) {
        const std::vector<std::size_t> cuts = RandomCuts(text, state, 1 + static_cast<std::size_t>(i % 6) * 3);
        std::ostringstream trace;
        trace << "random cuts";
        for (std::size_t cut : cuts) trace << ' ' << cut;
        SCOPED_TRACE(trace.str());
        ExpectSame(Streamed(text, nMax, cuts), whole, text);
    }
    EXPECT_EQ(TestHeapLiveBlocks(), lLive) << "a stream holds no memory once destroyed";
}

// Offset of the n-th (from 0) occurrence of needle in text, plus delta.
std::size_t At(const std::string& text, const std::string& needle, int n = 0, std::size_t delta = 0) {
    std::size_t at = text.find(needle);
    for (; n > 0 && at != std::string::npos; --n) at = text.find(needle, at + 1);
    EXPECT_NE(at, std::string::npos) << needle;
    return at + delta;
}

// Every offset inside needle's n-th occurrence (between its bytes).
std::vector<std::size_t> Inside(const std::string& text, const std::string& needle, int n = 0) {
    std::vector<std::size_t> cuts;
    const std::size_t at = At(text, needle, n);
    for (std::size_t k = 1; k < needle.size(); ++k) cuts.push_back(at + k);
    return cuts;
}

struct CutCase {
    const char* what;
    std::string body;
    std::vector<std::size_t> cuts;  // each tried alone, then all at once
    PartsResult result;
    std::size_t nParts;
};

const std::string kUtf8Name = "\xE6\x97\xA5\xE6\x9C\xAC";  // 日本
const std::string kUtf8Value = "\xE2\x82\xAC\xF0\x9F\x98\x80";  // €😀
const std::string kSjisName = "\x95\x5C";                  // 表
const std::string kSjisValue = "\x83\x5C\x83\x74\x83\x67";  // ソフト

const std::string kTwo =
    TextPart("a", "1") + FilePart("f", "x.bin", "application/octet-stream", "\r\n--AaB03\r\n--AaB03xy") + kClose;
const std::string kUtf8 = TextPart(kUtf8Name, kUtf8Value) + kClose;
const std::string kSjis =
    TextPart(kSjisName, kSjisValue) + FilePart("g", kSjisName + ".txt", "text/plain", kSjisValue) + kClose;
const std::string kPadded = "--AaB03x \t \r\n" + TextPart("a", "1").substr(10) + "--AaB03x\t\t  \r\n" +
                            TextPart("b", "2").substr(10) + "--AaB03x--  \t\r\n";

std::vector<std::size_t> Join(std::initializer_list<std::vector<std::size_t>> lists) {
    std::vector<std::size_t> all;
    for (const auto& list : lists) all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    return all;
}

const CutCase kCutCases[] = {
    {"inside the delimiter", kTwo, Join({Inside(kTwo, "\r\n--AaB03x", 0), Inside(kTwo, "\r\n--AaB03x--")}),
     PartsResult::kOk, 2},
    {"inside lookalikes of the delimiter", kTwo, Join({Inside(kTwo, "\r\n--AaB03\r\n"), Inside(kTwo, "\r\n--AaB03xy")}),
     PartsResult::kOk, 2},
    {"inside the blank line", kTwo, Join({Inside(kTwo, "\"\r\n\r\n1"), Inside(kTwo, "stream\r\n\r\n")}),
     PartsResult::kOk, 2},
    {"inside a UTF-8 name and value", kUtf8, Join({Inside(kUtf8, kUtf8Name), Inside(kUtf8, kUtf8Value)}),
     PartsResult::kOk, 1},
    {"inside a Shift_JIS name and value", kSjis,
     Join({Inside(kSjis, kSjisName, 0), Inside(kSjis, kSjisValue, 0), Inside(kSjis, kSjisName, 1),
           Inside(kSjis, kSjisValue, 1)}),
     PartsResult::kOk, 2},
    {"inside the first line", kTwo, Inside(kTwo, "--AaB03x\r\n"), PartsResult::kOk, 2},
    {"inside transport padding", kPadded,
     Join({Inside(kPadded, "x \t \r\n"), Inside(kPadded, "x\t\t  \r\n"), Inside(kPadded, "x--  \t\r\n")}),
     PartsResult::kOk, 2},
    {"inside the closing dashes", kTwo, Join({Inside(kTwo, "x--\r\n")}), PartsResult::kOk, 2},
    {"header error waits for the delimiter", "--AaB03x\r\nno colon\r\n\r\nv\r\n--AaB03x--",
     {12, 19, 20, 22, 24, 25}, PartsResult::kBadHeaders, 0},
    {"header error, then a bare LF after a delimiter",
     "--AaB03x\r\nno colon\r\n\r\nv\r\n--AaB03x \n",
     {12, 19, 20, 22, 24, 25, 33, 34}, PartsResult::kBadLineEndings, 0},
    {"header error, then no delimiter", "--AaB03x\r\nno colon\r\n\r\nv\r\n--AaB03x", {12, 19, 20, 22, 24, 25, 30},
     PartsResult::kNoClosingLine, 0},
    {"blank line that is the delimiter's CR LF", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n\r\n--AaB03x--",
     {49, 50, 51, 52, 53, 55, 59, 60}, PartsResult::kBadHeaders, 0},
    {"value that begins with the delimiter's text",
     "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n\r\n--AaB03x-x\r\n--AaB03x--",
     {49, 50, 51, 52, 53, 55, 59, 60, 61}, PartsResult::kOk, 1},
};

void PrintTo(const CutCase& c, std::ostream* pOut) { *pOut << c.what; }

class StreamCuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(StreamCuts, SameAsTheWholeBody) {
    const CutCase& c = GetParam();
    const Outcome whole = Whole(c.body, 0);
    ASSERT_EQ(whole.result, c.result);
    ASSERT_EQ(whole.parts.size(), c.nParts);
    for (std::size_t cut : c.cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ASSERT_LT(cut, c.body.size());
        const Outcome streamed = Streamed(c.body, 0, {cut});
        EXPECT_EQ(streamed.result, whole.result);
        EXPECT_EQ(streamed.parts, whole.parts);
    }
    {
        SCOPED_TRACE("every cut at once");
        const Outcome streamed = Streamed(c.body, 0, c.cuts);
        EXPECT_EQ(streamed.result, whole.result);
        EXPECT_EQ(streamed.parts, whole.parts);
    }
    {
        SCOPED_TRACE("a byte at a time");
        const Outcome streamed = Streamed(c.body, 0, EveryByte(c.body));
        EXPECT_EQ(streamed.result, whole.result);
        EXPECT_EQ(streamed.parts, whole.parts);
    }
}

std::string TestName(const char* what) {
    std::string name;
    for (const char* p = what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(PartStream, StreamCuts, ::testing::ValuesIn(kCutCases),
                         [](const ::testing::TestParamInfo<CutCase>& info) { return TestName(info.param.what); });

// Every body of the FormParts table.
class StreamTable : public ::testing::TestWithParam<Case> {};

TEST_P(StreamTable, SameAsTheWholeBody) { ExpectSameInPieces(GetParam().body, GetParam().nMax); }

INSTANTIATE_TEST_SUITE_P(PartStream, StreamTable, ::testing::ValuesIn(kPartsCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return TestName(info.param.what); });

// Broken bodies whose error the whole-body parse finds only after a part's
// delimiter, and odd delimiters.
struct BrokenCase {
    const char* what;
    std::string body;
    std::uint32_t nMax;
};

const BrokenCase kBrokenCases[] = {
    {"bad header, closed", "--AaB03x\r\nbroken\r\n\r\nv\r\n--AaB03x--", 0},
    {"bad header, not closed", "--AaB03x\r\nbroken\r\n\r\nvalue of some length", 0},
    {"bad header, bare LF after a later delimiter", "--AaB03x\r\nbroken\r\n\r\nv\r\n--AaB03x\t\n", 0},
    {"bad header, lookalikes, then closed", "--AaB03x\r\nbroken\r\n\r\n\r\n--AaB03x \r\r\n--AaB03x-\r\n--AaB03x--", 0},
    {"bare LF in a header, then closed", "--AaB03x\r\nContent-Type: a\n\r\nv\r\n--AaB03x--", 0},
    {"bare LF in a header, not closed", "--AaB03x\r\nContent-Type: a\n\r\nv", 0},
    {"fold first, then a later part", "--AaB03x\r\n folded\r\n\r\nv\r\n" + TextPart("b", "2") + kClose, 0},
    {"bare LF after a delimiter in a file", FilePart("f", "x", "a/b", "abc\r\n--AaB03x  \nmore") + kClose, 0},
    {"delimiter inside the header block",
     "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n--AaB03x\r\n\r\nv\r\n" + kClose, 0},
    {"padding then not CR LF",
     "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n\r\nx\r\n--AaB03x  \t\ry\r\n" + kClose, 0},
    {"limit reached before a broken part", TextPart("a", "1") + "--AaB03x\r\nbroken\r\n\r\n" + kClose, 1},
    {"limit reached before a part without end", TextPart("a", "1") + TextPart("b", "2") + "--AaB03x\r\n", 2},
    {"closing right after the first line", "--AaB03x\r\n--AaB03x--", 0},
    {"empty part", "--AaB03x\r\n\r\n--AaB03x--", 0},
    {"first line closing without LF", "--AaB03x--", 0},
    {"first line closing with blanks and a bare LF", "--AaB03x-- \t\nanything", 0},
    {"first line with a bare LF", "--AaB03x\n", 0},
    {"first line cut short", "--A", 0},
    {"two dashes only", "--", 0},
    {"boundary with a CR inside", "--Aa\rB\r\n" + TextPart("a", "\r\n--Aa\rBc", "--Aa\rB") + "--Aa\rB--", 0},
    {"boundary ending in CR", "--AaB\r\r\n" + TextPart("a", "1", "--AaB\r") + "--AaB\r--", 0},
    {"boundary ending in CR, then CR LF LF",
     "--AaB\r\r\n" + TextPart("a", "1\r\n--AaB\r\nx", "--AaB\r") + "--AaB\r--", 0},
    {"boundary ending in dashes", "--a--b--\r\n" + TextPart("x", "1", "--a--b--") + "--a--b----", 0},
    {"delimiter at the very end",
     TextPart("a", "1") + "--AaB03x\r\n" + "Content-Disposition: form-data\r\n\r\n\r\n--AaB03x", 0},
    {"dash at the very end", TextPart("a", "1") + "--AaB03x-", 0},
    {"CR at the very end", TextPart("a", "1") + "--AaB03x  \r", 0},
    {"epilogue with anything", TextPart("a", "1") + "--AaB03x--\n\n\r\n--AaB03x\n", 0},
};

void PrintTo(const BrokenCase& c, std::ostream* pOut) { *pOut << c.what; }

class StreamBroken : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(StreamBroken, SameAsTheWholeBody) { ExpectSameInPieces(GetParam().body, GetParam().nMax); }

INSTANTIATE_TEST_SUITE_P(PartStream, StreamBroken, ::testing::ValuesIn(kBrokenCases),
                         [](const ::testing::TestParamInfo<BrokenCase>& info) { return TestName(info.param.what); });

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The captured browser bodies and the scanner's fixture bodies.
TEST(PartStreamCaptured, SameAsTheWholeBody) {
    for (const char* file :
         {"chromium-form.bin", "firefox-form.bin", "curl-form.bin", "chromium-sjis.bin", "firefox-sjis.bin"}) {
        SCOPED_TRACE(file);
        const std::string text = Request(file);
        ASSERT_GT(text.size(), 300u);
        ASSERT_EQ(Whole(text, 0).result, PartsResult::kOk);
        ExpectSameInPieces(text, 0);
        ExpectSameInPieces(text, 3);
    }
    const std::string dir = VARO_FORMSCAN_FIXTURES;
    std::istringstream table(ReadFile(dir + "/expected.tsv"));
    std::vector<std::string> names;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::string name = line.substr(0, line.find('\t'));
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    EXPECT_GE(names.size(), 8u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string text = ReadFile(dir + "/bodies/" + name + ".body");
        ASSERT_FALSE(text.empty());
        ExpectSameInPieces(text, 0);
    }
}

// Many parts, past the first capacities of the index, in pieces.
TEST(PartStreamIndex, ManyParts) {
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += i % 3 ? TextPart("field" + std::to_string(i), std::string(static_cast<std::size_t>(i % 11), 'v'))
                      : FilePart("f" + std::to_string(i), "n" + std::to_string(i) + ".txt", "text/plain",
                                 "x\r\n--AaB03");
    text += kClose;
    const Outcome whole = Whole(text, 0);
    ASSERT_EQ(whole.result, PartsResult::kOk);
    ASSERT_EQ(whole.parts.size(), 600u);
    for (std::size_t cbPiece : {1u, 9u, 100u, 1000u, 256u << 10}) {
        SCOPED_TRACE(cbPiece);
        const Outcome streamed = Streamed(text, 0, Pieces(text, cbPiece));
        EXPECT_EQ(streamed.result, whole.result);
        EXPECT_EQ(streamed.parts, whole.parts);
    }
    EXPECT_EQ(Streamed(text, 599, Pieces(text, 4096)).result, PartsResult::kTooManyParts);
    EXPECT_EQ(Streamed(text, 600, Pieces(text, 4096)).result, PartsResult::kOk);
}

// kTooManyParts comes as soon as the part over the limit begins, from
// Write, before its end is known; the sink saw the parts within the limit.
TEST(PartStreamLimit, TooManyPartsAtOnce) {
    const std::string head = TextPart("a", "1") + TextPart("b", "2");
    RecordingSink sink;
    PartStream stream(2, &sink);
    EXPECT_EQ(WriteText(stream, head), PartsResult::kOk);
    EXPECT_EQ(WriteText(stream, "--AaB03x\r\n"), PartsResult::kTooManyParts);
    EXPECT_EQ(sink.nEnded, 2u);
    EXPECT_EQ(stream.End(), PartsResult::kTooManyParts);
    EXPECT_EQ(stream.TakeParts().Count(), 0u);
    EXPECT_EQ(Whole(head + "--AaB03x\r\nContent-Disposition: form", 2).result, PartsResult::kTooManyParts);
}

// The closing line completes the stream; later bytes are ignored.
TEST(PartStreamClosing, CompleteAndLaterBytes) {
    RecordingSink sink;
    PartStream stream(0, &sink);
    EXPECT_FALSE(stream.Complete());
    EXPECT_EQ(WriteText(stream, TextPart("a", "1") + "--AaB03x-"), PartsResult::kOk);
    EXPECT_FALSE(stream.Complete());
    EXPECT_EQ(WriteText(stream, "-"), PartsResult::kOk);
    EXPECT_TRUE(stream.Complete());
    EXPECT_EQ(sink.nEnded, 1u);
    EXPECT_EQ(WriteText(stream, "\r\n--AaB03x\nno headers\n\n"), PartsResult::kOk);
    EXPECT_EQ(WriteText(stream, std::string(100000, ' ')), PartsResult::kOk);
    EXPECT_EQ(stream.Write(nullptr, 0), PartsResult::kOk);
    EXPECT_EQ(stream.End(), PartsResult::kOk);
    FormParts parts = stream.TakeParts();
    ASSERT_EQ(parts.Count(), 1u);
    EXPECT_EQ(parts.Part(0).valueLength, 1u);
    EXPECT_EQ(sink.begun, (Parts{Field("a", "1")}));

    // A first line that can only close: complete at its LF, or at the end
    // without one.
    PartStream empty(0, &sink);
    EXPECT_EQ(WriteText(empty, "--AaB03x--"), PartsResult::kOk);
    EXPECT_FALSE(empty.Complete());
    EXPECT_EQ(empty.End(), PartsResult::kOk);
    EXPECT_TRUE(empty.Complete());
    EXPECT_EQ(empty.TakeParts().Count(), 0u);
    PartStream closed(0, &sink);
    EXPECT_EQ(WriteText(closed, "--AaB03x-- \njunk"), PartsResult::kOk);
    EXPECT_TRUE(closed.Complete());
    EXPECT_EQ(closed.End(), PartsResult::kOk);
    // One ending in CR LF may be the first delimiter of boundary
    // "AaB03x--": only the body's end shows that no later line is.
    PartStream either(0, &sink);
    EXPECT_EQ(WriteText(either, "--AaB03x--\r\njunk"), PartsResult::kOk);
    EXPECT_FALSE(either.Complete());
    EXPECT_EQ(either.End(), PartsResult::kOk);
    EXPECT_TRUE(either.Complete());
    EXPECT_EQ(either.TakeParts().Count(), 0u);
    EXPECT_EQ(sink.nDropped, 0u) << "no part had begun";
}

// A sink that refuses any of its calls stops the stream there.
// So does one refusing the first part of a body whose first line may yet be
// a closing line.
TEST(PartStreamSink, RefusalStops) {
    const std::string forms[] = {
        TextPart("a", "1") + FilePart("f", "x.bin", "a/b", std::string(3000, 'z')) + TextPart("c", "") + kClose,
        "--ab--\r\n" + FilePart("f", "x.bin", "a/b", std::string(3000, 'z'), "").substr(2),
    };
    for (const std::string& text : forms) {
        SCOPED_TRACE(text.substr(0, 10));
        long nCalls = 0;
        {
            RecordingSink sink;
            ASSERT_EQ(Streamed(text, 0, Pieces(text, 700), sink).result, PartsResult::kOk);
            nCalls = sink.nCalls;
        }
        ASSERT_GE(nCalls, 5);
        const long lLive = TestHeapLiveBlocks();
        for (long n = 0; n < nCalls; ++n) {
            SCOPED_TRACE("refused call " + std::to_string(n));
            RecordingSink sink(n);
            EXPECT_EQ(Streamed(text, 0, Pieces(text, 700), sink).result, PartsResult::kStopped);
            EXPECT_EQ(sink.nCalls, n + 1) << "no call after the refusal";
            EXPECT_EQ(sink.nDropped, 0u) << "nothing after the refusal";
        }
        EXPECT_EQ(TestHeapLiveBlocks(), lLive);
    }
}

// A first line that is also a closing line ("--ab--" CR LF): the stream
// reads the first part as it comes, and drops it when the body ends without
// the part's delimiter; one later delimiter line keeps it.
TEST(PartStreamFirstLine, FirstPartDroppedUnlessALaterLineIsItsDelimiter) {
    const std::string value = std::string(3000, 'v') + "\r\n--ab--x\r\n--ab-- y";
    const std::string head = "--ab--\r\n" + FilePart("f", "x.bin", "a/b", value, "").substr(2);
    for (const std::string& text : {head, head + "--ab----"}) {
        const bool bClosed = text.size() > head.size();
        const Outcome whole = Whole(text, 0);
        ASSERT_EQ(whole.result, PartsResult::kOk);
        ASSERT_EQ(whole.parts, bClosed ? Parts{Upload("f", "x.bin", "a/b", value)} : Parts{});
        for (const std::vector<std::size_t>& cuts :
             {std::vector<std::size_t>{}, Pieces(text, 7), Pieces(text, 1000), EveryByte(text)}) {
            SCOPED_TRACE(std::string(bClosed ? "closed" : "never closed") + ", pieces: " +
                         std::to_string(cuts.size() + 1));
            const long lLive = TestHeapLiveBlocks();
            RecordingSink sink;
            const Outcome streamed = Streamed(text, 0, cuts, sink);
            EXPECT_EQ(streamed.result, PartsResult::kOk);
            EXPECT_EQ(streamed.parts, whole.parts);
            EXPECT_GE(sink.cbData, 3000u) << "the value went to the sink as it came";
            EXPECT_EQ(sink.nDropped, bClosed ? 0u : 1u);
            EXPECT_EQ(sink.nEnded, bClosed ? 1u : 0u);
            EXPECT_EQ(TestHeapLiveBlocks(), lLive);
        }
    }
}

std::string Repeat(char ch, std::size_t n) { return std::string(n, ch); }

// First lines, header blocks and padding longer than the stream holds.
TEST(PartStreamLimits, LineTooLong) {
    const std::size_t kcbHeld = kcbMaxStreamHeld;
    const std::string rest = TextPart("a", "1").substr(8) + kClose;
    // A first line of blanks after the boundary: the whole body reads it.
    const std::string longFirst = "--AaB03x" + Repeat(' ', kcbHeld) + rest;
    EXPECT_EQ(Whole(longFirst, 0).result, PartsResult::kOk);
    EXPECT_EQ(Streamed(longFirst, 0, {}).result, PartsResult::kLineTooLong);
    EXPECT_EQ(Streamed(longFirst, 0, Pieces(longFirst, 1000)).result, PartsResult::kLineTooLong);
    // One that cannot be a boundary is kNotMultipart, as for the whole body.
    const std::string wrongFirst = "--AaB03x" + Repeat(' ', 300) + "x" + Repeat(' ', kcbHeld) + rest;
    EXPECT_EQ(Whole(wrongFirst, 0).result, PartsResult::kNotMultipart);
    EXPECT_EQ(Streamed(wrongFirst, 0, Pieces(wrongFirst, 1000)).result, PartsResult::kNotMultipart);
    // The longest first line held.
    const std::string fullFirst = "--AaB03x" + Repeat(' ', kcbHeld - 9) + rest;  // rest begins with CR LF
    EXPECT_EQ(Streamed(fullFirst, 0, Pieces(fullFirst, 1000)).result, PartsResult::kOk);

    // A header block past the limit: held when it comes in pieces; read
    // where it stands when it comes whole.
    const std::string header = "--AaB03x\r\nContent-Disposition: form-data; name=a\r\nX-Long: ";
    const std::string longBlock = header + Repeat('h', kcbHeld) + "\r\n\r\nv\r\n" + kClose;
    ASSERT_EQ(Whole(longBlock, 0).result, PartsResult::kOk);
    EXPECT_EQ(Streamed(longBlock, 0, {}).parts, Whole(longBlock, 0).parts);
    EXPECT_EQ(Streamed(longBlock, 0, {20}).result, PartsResult::kLineTooLong);
    EXPECT_EQ(Streamed(longBlock, 0, Pieces(longBlock, 4096)).result, PartsResult::kLineTooLong);
    // A header block of exactly the limit is held.
    const std::size_t cbBlockSoFar = header.size() - 10;  // the block begins after the first line
    const std::string fullBlock = header + Repeat('h', kcbHeld - cbBlockSoFar - 4) + "\r\n\r\nv\r\n" + kClose;
    EXPECT_EQ(Streamed(fullBlock, 0, Pieces(fullBlock, 999)).parts, Whole(fullBlock, 0).parts);
    const std::string overBlock = header + Repeat('h', kcbHeld - cbBlockSoFar - 3) + "\r\n\r\nv\r\n" + kClose;
    EXPECT_EQ(Streamed(overBlock, 0, Pieces(overBlock, 999)).result, PartsResult::kLineTooLong);
    // A bad header is known before the block grows long: no holding.
    const std::string badBlock = "--AaB03x\r\nbroken\r\n" + Repeat('h', 3 * kcbHeld) + "\r\n--AaB03x--";
    EXPECT_EQ(Streamed(badBlock, 0, Pieces(badBlock, 1000)).result, PartsResult::kBadHeaders);

    // Transport padding: held only when a piece ends inside it.
    const std::string longPadding = TextPart("a", "1") + "--AaB03x" + Repeat('\t', kcbHeld + 2000) + "\r\n" +
                                    TextPart("b", "2").substr(10) + kClose;
    ASSERT_EQ(Whole(longPadding, 0).result, PartsResult::kOk);
    EXPECT_EQ(Streamed(longPadding, 0, {}).parts, Whole(longPadding, 0).parts);
    EXPECT_EQ(Streamed(longPadding, 0, {At(longPadding, "\t", 0, 100)}).parts, Whole(longPadding, 0).parts);
    EXPECT_EQ(Streamed(longPadding, 0, Pieces(longPadding, 1000)).result, PartsResult::kLineTooLong);
    const std::string fullPadding = TextPart("a", "1") + "--AaB03x" + Repeat(' ', kcbHeld) + "\r\n" +
                                    TextPart("b", "2").substr(10) + kClose;
    EXPECT_EQ(Streamed(fullPadding, 0, Pieces(fullPadding, 1000)).parts, Whole(fullPadding, 0).parts);
}

// The first part's own failures (here a header block longer than the
// stream holds) wait for its delimiter while the first line may be a
// closing line: without one the body is a form with no field, as for the
// whole body.
TEST(PartStreamLimits, FirstPartFailureWaitsForItsDelimiter) {
    const std::string head =
        "--ab--\r\nContent-Disposition: form-data; name=a\r\nX-Long: " + Repeat('h', kcbMaxStreamHeld) + "\r\n\r\nv\r\n";
    ASSERT_EQ(Whole(head, 0).result, PartsResult::kOk);
    ASSERT_TRUE(Whole(head, 0).parts.empty());
    for (std::size_t cbPiece : {1000u, 4096u}) {
        SCOPED_TRACE(cbPiece);
        const Outcome never = Streamed(head, 0, Pieces(head, cbPiece));
        EXPECT_EQ(never.result, PartsResult::kOk);
        EXPECT_TRUE(never.parts.empty());
        const std::string closed = head + "--ab----";
        EXPECT_EQ(Streamed(closed, 0, Pieces(closed, cbPiece)).result, PartsResult::kLineTooLong);
        // A first line that reads only one way fails at once.
        const std::string plain = "--AaB03x" + head.substr(6);
        RecordingSink sink;
        PartStream stream(0, &sink);
        ASSERT_LT(kcbMaxStreamHeld + 20, plain.find("\r\n\r\n"));
        EXPECT_EQ(WriteText(stream, plain.substr(0, kcbMaxStreamHeld + 20)), PartsResult::kLineTooLong);
    }
}

// A value of 4 GiB or more cannot be indexed: kTooLarge as its 2^32-th byte
// arrives; one byte less is a value like any other.
TEST(PartStreamLimits, TooLarge) {
    std::string head = FilePart("f", "big.bin", "application/octet-stream", "");
    head.resize(head.size() - 2);
    ASSERT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    RecordingSink sinkFits(-1, false), sinkOver(-1, false);
    PartStream fits(0, &sinkFits), over(0, &sinkOver);
    for (PartStream* s : {&fits, &over}) ASSERT_EQ(WriteText(*s, head), PartsResult::kOk);
    constexpr std::uint32_t kcbPiece = 1u << 20;
    std::vector<unsigned char> zeros(kcbPiece, 0);
    for (std::uint32_t i = 0; i < 4096; ++i) {
        const std::uint32_t cb = i == 4095 ? kcbPiece - 1 : kcbPiece;
        ASSERT_EQ(fits.Write(zeros.data(), cb), PartsResult::kOk);
        ASSERT_EQ(over.Write(zeros.data(), cb), PartsResult::kOk);
    }
    EXPECT_EQ(WriteText(fits, "\r\n" + kClose), PartsResult::kOk);
    EXPECT_EQ(fits.End(), PartsResult::kOk);
    FormParts parts = fits.TakeParts();
    ASSERT_EQ(parts.Count(), 1u);
    EXPECT_EQ(parts.Part(0).valueLength, 0xFFFFFFFFu);
    EXPECT_EQ(sinkFits.cbData, 0xFFFFFFFFull);

    EXPECT_EQ(over.Write(zeros.data(), 1), PartsResult::kTooLarge);
    EXPECT_EQ(sinkOver.cbData, 0xFFFFFFFFull);
    EXPECT_EQ(over.End(), PartsResult::kTooLarge);
}

// A stream told the boundary the request names checks the first line
// against it: its delimiter line, or its closing line when no later line
// makes that another boundary's delimiter; any other is refused.
struct NamedCase {
    const char* what;
    std::string boundary;
    std::string body;
    PartsResult result;
    Parts parts;
};

void PrintTo(const NamedCase& c, std::ostream* pOut) { *pOut << c.what; }

const Parts kAB = {Field("a", "1"), Field("b", "2")};

const NamedCase kNamedCases[] = {
    {"its delimiter", "AaB03x", TwoFields("AaB03x"), PartsResult::kOk, kAB},
    {"its delimiter, padded", "AaB03x", "--AaB03x \t\r\n" + TwoFields("AaB03x").substr(10), PartsResult::kOk, kAB},
    {"its delimiter, a boundary ending in dashes", "ab--", TwoFields("ab--"), PartsResult::kOk, kAB},
    {"its delimiter, also a closing line, and nothing after", "ab--", "--ab--\r\n", PartsResult::kNoClosingLine, {}},
    {"its delimiter with a bare LF", "ab--", "--ab--\n" + TwoFields("ab--").substr(8), PartsResult::kBadLineEndings,
     {}},
    {"its delimiter without a line end", "ab", "--ab", PartsResult::kNotMultipart, {}},
    {"its closing line", "ab", "--ab--\r\n", PartsResult::kOk, {}},
    {"its closing line without a line end", "ab", "--ab--", PartsResult::kOk, {}},
    {"its closing line, then lines that are no delimiter", "ab",
     "--ab--\r\n" + TextPart("a", "1", "--ab") + "--ab--x\r\n--ab--", PartsResult::kOk, {}},
    {"its closing line, then parts of the boundary with dashes", "ab", TwoFields("ab--"), PartsResult::kBoundaryMismatch,
     {}},
    {"its closing line, then a later delimiter with a bare LF", "ab", "--ab--\r\nx\r\n--ab--\n",
     PartsResult::kBoundaryMismatch, {}},
    {"another boundary", "ab", TwoFields("xy"), PartsResult::kBoundaryMismatch, {}},
    {"a longer boundary", "ab", TwoFields("abc"), PartsResult::kBoundaryMismatch, {}},
    {"a shorter boundary", "ab", TwoFields("a"), PartsResult::kBoundaryMismatch, {}},
    {"its closing line, longer", "ab", "--ab---\r\n", PartsResult::kBoundaryMismatch, {}},
    {"the boundary in another case", "ab", TwoFields("AB"), PartsResult::kBoundaryMismatch, {}},
    {"a first line longer than the stream holds", "ab", "--ab" + std::string(kcbMaxStreamHeld + 10, 'x') + "\r\n",
     PartsResult::kBoundaryMismatch, {}},
    {"no delimiter line at all", "ab", "hello\r\n" + TwoFields("ab"), PartsResult::kNotMultipart, {}},
    {"nothing", "ab", "", PartsResult::kNotMultipart, {}},
};

class StreamNamed : public ::testing::TestWithParam<NamedCase> {};

TEST_P(StreamNamed, ChecksTheFirstLine) {
    const NamedCase& c = GetParam();
    std::vector<std::vector<std::size_t>> cutSets = {{}, Pieces(c.body, 3), Pieces(c.body, 64)};
    if (c.body.size() < 4096) cutSets.push_back(EveryByte(c.body));
    std::uint64_t state = 20240612;
    for (int i = 0; i < 6; ++i) cutSets.push_back(RandomCuts(c.body, state, 1 + static_cast<std::size_t>(i)));
    for (const std::vector<std::size_t>& cuts : cutSets) {
        SCOPED_TRACE("pieces: " + std::to_string(cuts.size() + 1));
        const Outcome streamed = Streamed(c.body, 0, cuts, c.boundary);
        EXPECT_EQ(streamed.result, c.result);
        EXPECT_EQ(streamed.parts, c.parts);
    }
    // What it lets through, the whole-body parse reads alike.
    if (c.result == PartsResult::kOk) EXPECT_EQ(Whole(c.body, 0).parts, c.parts);
}

INSTANTIATE_TEST_SUITE_P(PartStream, StreamNamed, ::testing::ValuesIn(kNamedCases),
                         [](const ::testing::TestParamInfo<NamedCase>& info) { return TestName(info.param.what); });

TEST(PartStreamNamed, OneToTwoHundredBytesBeforeTheBody) {
    const std::string b201(201, 'b'), b200 = b201.substr(1);
    const auto* pb = reinterpret_cast<const unsigned char*>(b201.data());
    PartStream stream(0, nullptr);
    EXPECT_FALSE(stream.NameBoundary(pb, 0));
    EXPECT_FALSE(stream.NameBoundary(pb, 201));
    EXPECT_TRUE(stream.NameBoundary(pb, 200));
    EXPECT_EQ(WriteText(stream, TwoFields(b200)), PartsResult::kOk);
    EXPECT_EQ(stream.End(), PartsResult::kOk);
    // Too late once the body has begun: the first line is read unchecked.
    PartStream late(0, nullptr);
    EXPECT_EQ(WriteText(late, "-"), PartsResult::kOk);
    EXPECT_FALSE(late.NameBoundary(pb, 1));
    EXPECT_EQ(WriteText(late, TwoFields("xy").substr(1)), PartsResult::kOk);
    EXPECT_EQ(late.End(), PartsResult::kOk);
    EXPECT_EQ(late.TakeParts().Count(), 2u);
}

using PartStreamHeapFailure = HeapFailureTest;

TEST_F(PartStreamHeapFailure, EveryFailurePointGivesNoMemory) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += FilePart(std::string(static_cast<std::size_t>(i) * 20, 'n'), "f.bin", "a/b", "x\r\n--AaB03x-");
    text += "--AaB03x\r\nContent-Disposition: form-data; name=last\r\nX-Long: " + std::string(3000, 'l') +
            "\r\n\r\nv\r\n--AaB03x \t" + std::string(2000, ' ') +
            "\r\nContent-Disposition: form-data; name=z\r\n\r\n\r\n" + kClose;
    const Outcome whole = Whole(text, 0);
    ASSERT_EQ(whole.result, PartsResult::kOk);
    for (std::size_t cbPiece : {7u, 100u, 1000u, 1u << 20}) {
        SCOPED_TRACE("pieces of " + std::to_string(cbPiece));
        int nFailurePoints = 0;
        for (long n = 0;; ++n) {
            ASSERT_LT(n, 1000) << "the stream never succeeds";
            const long lLive = TestHeapLiveBlocks();
            Outcome outcome;
            {
                TestHeapFailAfter(n);
                RecordingSink sink;
                outcome = Streamed(text, 0, Pieces(text, cbPiece), sink);
                TestHeapFailAfter(-1);
            }
            EXPECT_EQ(TestHeapLiveBlocks(), lLive) << "block left after a failure at allocation " << n;
            if (outcome.result == PartsResult::kOk) {
                EXPECT_EQ(outcome.parts, whole.parts);
                break;
            }
            ++nFailurePoints;
            EXPECT_EQ(outcome.result, PartsResult::kNoMemory) << "failure at allocation " << n;
        }
        EXPECT_GE(nFailurePoints, 4);
    }
}

}  // namespace

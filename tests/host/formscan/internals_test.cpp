// The scanner's internal operations: ByteSearch against the plain
// search (edge cases and a randomised differential test), FindBoundary,
// CopyHeaderValue, ReadPartHeaders and SliceValue.
#include "formscan/byte_search.h"
#include "formscan/form_scan_impl.h"

#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"
#include "testing/plain_search.h"
#include "tests/host/formscan/scan_helpers.h"

#include <random>
#include <string>
#include <vector>

namespace {

std::int32_t Search(const std::string& pattern, const std::string& data, std::int32_t s, std::int32_t e) {
    ExactBody d(data);
    ExactBody p(pattern);
    return ByteSearch(p.data(), p.size(), d.data(), s, e);
}

TEST(ByteSearch, EdgeCases) {
    EXPECT_EQ(Search("ab", "xxab", 0, 4), 2);
    EXPECT_EQ(Search("ab", "xxab", 1, 4), 1);  // relative to the start
    EXPECT_EQ(Search("ab", "xxab", 0, 3), -1);  // a match must lie wholly before the end
    EXPECT_EQ(Search("ab", "xxab", 3, 4), -1);
    EXPECT_EQ(Search("ab", "xxab", 4, 4), -1);  // start == end
    EXPECT_EQ(Search("b", "xxab", 0, 4), 3);    // the range's last byte is found
    EXPECT_EQ(Search("aab", "aaab", 0, 4), 1);  // overlapping candidates all tried
    EXPECT_EQ(Search("\r\n\r\n", "a\r\n\r\n\r\nb", 0, 8), 1);
    EXPECT_EQ(Search("\r\n\r\n", "a\r\n\r\n\r\nb", 2, 8), 1);
    EXPECT_EQ(Search("abc", "ab", 0, 2), -1);  // pattern longer than the range
    EXPECT_EQ(Search("", "ab", 0, 2), 0);
    EXPECT_EQ(Search("", "ab", 2, 2), -1);
    // Matches at every place around the 64- and 16-byte blocks and the tail.
    for (int len = 1; len <= 150; ++len) {
        for (int at = 0; at + 3 <= len; ++at) {
            std::string data(static_cast<std::size_t>(len), 'x');
            data.replace(static_cast<std::size_t>(at), 3, "-b\n");
            ASSERT_EQ(Search("-b\n", data, 0, len), at) << len << " " << at;
            ASSERT_EQ(Search("-b\n", data, 0, at + 2), -1);
        }
    }
}

TEST(ByteSearch, NeverReadsAtOrBeyondEnd) {
    // The range ends the allocation: ASan reports any read past it.
    for (int len = 0; len <= 100; ++len) {
        std::string data(static_cast<std::size_t>(len), '-');
        const std::string patterns[] = {"-", "--", "-x", "----------------x", std::string(40, '-') + "x"};
        for (const std::string& pattern : patterns) {
            const bool bFits = len >= static_cast<int>(pattern.size());
            EXPECT_EQ(Search(pattern, data, 0, len), pattern.back() == 'x' || !bFits ? -1 : 0);
        }
    }
}

// Random data over a small alphabet, so partial matches are frequent.
TEST(ByteSearch, AgreesWithPlainSearch) {
    std::mt19937 rng(20240611);
    const char kAlphabet[] = {'-', '-', '\r', '\n', 'a', 'b', 'A', '\0', '\xff'};
    for (int iter = 0; iter < 300000; ++iter) {
        const int alphabet = 2 + static_cast<int>(rng() % (sizeof kAlphabet - 1));
        const std::size_t cbData = rng() % (iter % 10 == 0 ? 2000 : 150);
        std::string data(cbData, 'x');
        for (char& ch : data) ch = kAlphabet[rng() % alphabet];
        std::string pattern;
        std::size_t cbPattern = 1 + rng() % (iter % 7 == 0 ? 70 : 12);
        if (cbData > 0 && rng() % 2) {  // often a piece of the data, maybe altered
            const std::size_t at = rng() % cbData;
            pattern = data.substr(at, cbPattern);
            if (!pattern.empty() && rng() % 3 == 0) pattern[rng() % pattern.size()] = kAlphabet[rng() % alphabet];
        }
        if (pattern.empty()) {
            pattern.resize(cbPattern);
            for (char& ch : pattern) ch = kAlphabet[rng() % alphabet];
        }
        const std::int32_t e = cbData ? static_cast<std::int32_t>(rng() % (cbData + 1)) : 0;
        const std::int32_t s = e ? static_cast<std::int32_t>(rng() % (e + 1)) : 0;
        ExactBody d(data.substr(0, static_cast<std::size_t>(e)));  // the range ends the allocation
        ExactBody p(pattern);
        std::vector<unsigned char> whole(data.begin(), data.end());
        const std::int32_t expected = PlainByteSearch(p.data(), p.size(), whole.data(), s, e);
        const std::int32_t got = ByteSearch(p.data(), p.size(), e ? d.data() : whole.data(), s, e);
        ASSERT_EQ(got, expected) << "iter " << iter << " s=" << s << " e=" << e << " m=" << pattern.size();
    }
}

TEST(ByteSearch, AgreesOnLongInputs) {
    std::mt19937 rng(7);
    std::vector<unsigned char> data(1 << 20);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    const std::string pattern = "------WebKitFormBoundary7MA4YWxkTrZu0gW\r\n";
    const auto* p = reinterpret_cast<const unsigned char*>(pattern.data());
    const auto m = static_cast<std::int32_t>(pattern.size());
    for (int trial = 0; trial < 50; ++trial) {
        const std::size_t at = rng() % (data.size() - pattern.size());
        std::vector<unsigned char> copy = data;
        if (trial % 5) std::copy(pattern.begin(), pattern.end(), copy.begin() + static_cast<std::ptrdiff_t>(at));
        const std::int32_t s = static_cast<std::int32_t>(rng() % 1000);
        const std::int32_t e = static_cast<std::int32_t>(copy.size() - rng() % 1000);
        ASSERT_EQ(ByteSearch(p, m, copy.data(), s, e), PlainByteSearch(p, m, copy.data(), s, e));
    }
}

std::string Boundary(const std::string& body) {
    ExactBody b(body);
    char* psz = FindBoundary(b.data(), b.size());
    if (!psz) return "<fail>";
    std::string out(psz);
    ModuleFree(psz);
    return out;
}

TEST(FindBoundary, Examples) {
    const long lLive = TestHeapLiveBlocks();
    EXPECT_EQ(Boundary("------Xy12Zw\r\nrest"), "Xy12Zw");
    EXPECT_EQ(Boundary("--AaB03x\r\n"), "AaB03x");
    EXPECT_EQ(Boundary("--abc-def\r\n"), "def");
    EXPECT_EQ(Boundary("--AaB03x--\r\n"), "");
    EXPECT_EQ(Boundary("xyz\r\n"), "yz");    // no '-' after the first byte
    EXPECT_EQ(Boundary("-abc\r\n"), "abc");  // B[0] is never examined
    EXPECT_EQ(Boundary("-\r\n"), "");
    EXPECT_EQ(Boundary("x\r\n"), "");
    EXPECT_EQ(Boundary("a\r\r\n"), "\r");  // the first CR LF ends the line
    EXPECT_EQ(Boundary("a-b\nc\r\n"), "b\nc");
    EXPECT_EQ(Boundary("\r\n--AaB03x\r\n"), "<fail>");  // an empty first line gives no boundary
    EXPECT_EQ(Boundary(""), "<fail>");
    EXPECT_EQ(Boundary("--AaB03x\n"), "<fail>");
    EXPECT_EQ(Boundary("--AaB03x\r"), "<fail>");
    EXPECT_EQ(TestHeapLiveBlocks(), lLive);
}

TEST(FindBoundary, NoMemory) {
    if (!TestCanInjectFailures()) GTEST_SKIP() << "no allocation-failure injection in this build";
    TestHeapFailAfter(0);
    EXPECT_EQ(Boundary("--AaB03x\r\n"), "<fail>");
    TestHeapFailAfter(-1);
}

std::string Copy(const std::string& value) {
    std::vector<char> guard(1000, '\xCC');
    CopyHeaderValue(value.c_str(), guard.data() + 100);
    for (std::size_t i = 0; i < 100; ++i) EXPECT_EQ(guard[i], '\xCC');
    for (std::size_t i = 100 + kcbHeaderField; i < guard.size(); ++i) EXPECT_EQ(guard[i], '\xCC') << "written past";
    const char* field = guard.data() + 100;
    EXPECT_NE(std::memchr(field, 0, kcbHeaderField), nullptr);
    return std::string(field);
}

TEST(CopyHeaderValue, StopBytes) {
    EXPECT_EQ(Copy("form-data; name=\"a\""), "form-data");
    EXPECT_EQ(Copy("text/plain; charset=UTF-8"), "text/plain");
    EXPECT_EQ(Copy("abc\"def"), "abc");
    EXPECT_EQ(Copy("abc\rdef"), "abc");
    EXPECT_EQ(Copy("abc\ndef"), "abc");
    EXPECT_EQ(Copy(" spaced , kept"), " spaced , kept");
    EXPECT_EQ(Copy(""), "");
    EXPECT_EQ(Copy("\x83\x5C\x96\xBC\x82\x60"), "\x83\x5C\x96\xBC\x82\x60");  // trail bytes never stop it
    EXPECT_EQ(Copy(std::string(256, 'x')), std::string(256, 'x'));
    EXPECT_EQ(Copy(std::string(257, 'y')), std::string(256, 'y'));  // cut at 256
    EXPECT_EQ(Copy(std::string(600, 'z') + ";"), std::string(256, 'z'));
}

PartHeaders Read(const std::string& text) {
    PartHeaders h;
    std::memset(&h, 0, sizeof h);
    ReadPartHeaders(text.c_str(), &h);
    return h;
}

TEST(ReadPartHeaders, Keys) {
    PartHeaders h = Read(
        "Content-Disposition: form-data; name=\"f\"; filename=\"C:\\a b\\x.txt\"\r\nContent-Type: text/plain");
    EXPECT_STREQ(h.szDisposition, "form-data");
    EXPECT_STREQ(h.szName, "f");
    EXPECT_STREQ(h.szFilename, "C:\\a b\\x.txt");
    EXPECT_STREQ(h.szContentType, "text/plain");

    // Filename before name: the name key is not matched inside filename=".
    h = Read("Content-Disposition: form-data; filename=\"pic.jpg\"; name=\"up\"");
    EXPECT_STREQ(h.szName, "up");
    EXPECT_STREQ(h.szFilename, "pic.jpg");
    h = Read("Content-Disposition: form-data; filename=\"pic.jpg\"");
    EXPECT_STREQ(h.szName, "");
    h = Read("X: profilename=\"p\"; name=\"n\"");  // the tail of filename=" wherever it stands
    EXPECT_STREQ(h.szName, "n");
    h = Read("name=\"first\"; filename=\"f\"");  // a name key at the very start
    EXPECT_STREQ(h.szName, "first");
    h = Read("X: ename=\"e\"; filename=\"f\"");  // "ename" is no tail of the filename key
    EXPECT_STREQ(h.szName, "e");

    // Exact keys: case and the single space count.
    h = Read("content-disposition: form-data; Name=\"a\"\r\nContent-Type:text/plain\r\nCONTENT-TYPE: x");
    EXPECT_STREQ(h.szDisposition, "");
    EXPECT_STREQ(h.szName, "");
    EXPECT_STREQ(h.szContentType, "");

    // Absent keys leave their fields as they were.
    PartHeaders keep;
    std::strcpy(keep.szName, "keepN");
    std::strcpy(keep.szDisposition, "keepD");
    std::strcpy(keep.szContentType, "keepT");
    std::strcpy(keep.szFilename, "keepF");
    ReadPartHeaders("Content-Type: image/png", &keep);
    EXPECT_STREQ(keep.szName, "keepN");
    EXPECT_STREQ(keep.szDisposition, "keepD");
    EXPECT_STREQ(keep.szContentType, "image/png");
    EXPECT_STREQ(keep.szFilename, "keepF");
}

struct Sliced {
    std::int32_t result;
    std::vector<std::string> values;
};

Sliced Slice(const std::string& text, std::int32_t v, const char* boundary, std::int32_t lCountBefore = 0) {
    ExactBody body(text);
    auto record = NewRecord();
    record->lValueCount = lCountBefore;
    Sliced out{SliceValue(body.data(), v, body.size(), boundary, record.get()), {}};
    for (std::int32_t i = lCountBefore; i < record->lValueCount; ++i) out.values.push_back(body.Slice(*record, i));
    return out;
}

TEST(SliceValue, Delimiting) {
    const long lLive = TestHeapLiveBlocks();
    Sliced s = Slice("xxabc\r\n--B\r\n", 2, "B");
    EXPECT_EQ(s.result, 2 + 3 + 2);
    EXPECT_EQ(s.values, std::vector<std::string>{"abc"});
    s = Slice("abc\r\n--B--\r\n", 0, "B");
    EXPECT_EQ(s.values, std::vector<std::string>{"abc"});
    // The boundary line anywhere ahead wins over a closing line before it.
    s = Slice("x\r\n--B--\r\ny\r\n--B\r\n", 0, "B");
    EXPECT_EQ(s.values, std::vector<std::string>{"x\r\n--B--\r\ny"});
    s = Slice("abc\r\n--B--", 0, "B");
    EXPECT_EQ(s.result, -1);
    EXPECT_TRUE(s.values.empty());
    s = Slice("abc--B\r\n", 0, "B");  // no CR LF before the match: empty value
    EXPECT_EQ(s.result, 2);
    EXPECT_EQ(s.values, std::vector<std::string>{""});
    s = Slice("a\r\nb\r\r\n\n----B\r\n", 0, "B");  // the last CR LF wholly before the match
    EXPECT_EQ(s.values, std::vector<std::string>{"a\r\nb\r"});
    s = Slice("a\r\n-B\r\n", 0, "B");
    EXPECT_EQ(s.values, std::vector<std::string>{"a"});
    s = Slice("a\r-B\r\n", 0, "B");  // a CR alone is no line end
    EXPECT_EQ(s.values, std::vector<std::string>{""});
    // At 3000 values nothing is stored, the result is the same.
    s = Slice("xxabc\r\n--B\r\n", 2, "B", kMaxFormValues);
    EXPECT_EQ(s.result, 7);
    EXPECT_TRUE(s.values.empty());
    EXPECT_EQ(TestHeapLiveBlocks(), lLive);
}

TEST(SliceValue, NoMemory) {
    if (!TestCanInjectFailures()) GTEST_SKIP() << "no allocation-failure injection in this build";
    TestHeapFailAfter(0);
    const Sliced s = Slice("abc\r\n--B\r\n", 0, "B");
    TestHeapFailAfter(-1);
    EXPECT_EQ(s.result, -2);
    EXPECT_TRUE(s.values.empty());
}

}  // namespace

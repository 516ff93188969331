// Browser-style bodies from tests/fixtures/formscan (Chrome, Firefox, curl,
// old IE with Shift_JIS names, and the odd shapes the scanner must handle), with the
// results listed in expected.tsv (written by make_fixtures.py).
#include "formscan/form_scan.h"

#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/scan_helpers.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef VARO_FORMSCAN_FIXTURES
#error "VARO_FORMSCAN_FIXTURES must name tests/fixtures/formscan"
#endif

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::u16string FromUtf8(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        int n;
        if (c < 0x80) cp = c, n = 1;
        else if (c < 0xE0) cp = c & 0x1F, n = 2;
        else if (c < 0xF0) cp = c & 0x0F, n = 3;
        else cp = c & 0x07, n = 4;
        for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += static_cast<std::size_t>(n);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

TEST(FixtureBodies, MatchExpectations) {
    const std::string dir = VARO_FORMSCAN_FIXTURES;
    std::istringstream table(ReadFile(dir + "/expected.tsv"));
    int nRows = 0, nRun = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        ++nRows;
        const std::vector<std::string> col = Split(line, '\t');
        ASSERT_EQ(col.size(), 6u) << line;
        SCOPED_TRACE(col[0] + " item " + col[1] + " cp" + col[2] + " " + col[3]);
        if (!TestUseCodePage(static_cast<unsigned>(std::stoul(col[2])))) continue;
        ++nRun;
        const std::string text = ReadFile(dir + "/bodies/" + col[0] + ".body");
        ASSERT_FALSE(text.empty());
        ExactBody body(text);
        const std::u16string item = FromUtf8(col[1]);
        auto record = NewRecord();
        const long lLive = TestHeapLiveBlocks();
        const std::int32_t result = ScanForm(body.data(), body.size(), item.c_str(), record.get(), col[3] == "text" ? ScanMode::kTextOnly : ScanMode::kAllParts);
        EXPECT_EQ(TestHeapLiveBlocks(), lLive);

        std::vector<std::string> values;
        if (col[4] == "file") {
            ASSERT_EQ(record->lValueCount, 1);
            EXPECT_EQ(result, body.OffsetOf(record->pValueStart[0]) + record->lValueLength[0] + 2);
            values.push_back(Unescape(col[5]));
        } else {
            EXPECT_EQ(result, std::stoi(col[4]));
            if (result > 0)
                for (const std::string& v : Split(col[5], '|')) values.push_back(Unescape(v));
        }
        ASSERT_EQ(record->lValueCount, static_cast<std::int32_t>(values.size()));
        for (std::int32_t i = 0; i < record->lValueCount; ++i) EXPECT_EQ(body.Slice(*record, i), values[i]);
    }
    EXPECT_GE(nRows, 20);
    EXPECT_GT(nRun, 0);
}

}  // namespace

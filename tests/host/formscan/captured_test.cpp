// Request bodies captured from chromium, firefox-esr and curl
// (tests/fixtures/requests, see tests/fixtures/README.md): every field of the
// form as the WebMng methods will ask for it, in both modes, and the
// Shift_JIS form under code page 932 (and 1252).
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

std::string Request(const std::string& file) {
    std::ifstream in(std::string(VARO_FORMSCAN_FIXTURES) + "/../requests/" + file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Scanned {
    std::int32_t result;
    std::vector<std::string> values;
    std::string name, disposition, contentType, filename;
    std::int32_t fileEnd;  // value start + length + 2 of the first value, or -1
};

Scanned Scan(const std::string& text, const char16_t* item, ScanMode mode) {
    ExactBody body(text);
    auto record = NewRecord();
    const long lLive = TestHeapLiveBlocks();
    Scanned s{ScanForm(body.data(), body.size(), item, record.get(), mode), {}, record->szName,
              record->szDisposition, record->szContentType, record->szFilename, -1};
    EXPECT_EQ(TestHeapLiveBlocks(), lLive);
    for (std::int32_t i = 0; i < record->lValueCount; ++i) s.values.push_back(body.Slice(*record, i));
    if (record->lValueCount > 0)
        s.fileEnd = body.OffsetOf(record->pValueStart[0]) + record->lValueLength[0] + 2;
    return s;
}

using Values = std::vector<std::string>;

class CapturedForm : public ::testing::TestWithParam<const char*> {};

TEST_P(CapturedForm, EveryField) {
    ASSERT_TRUE(TestUseCodePage(1252) || TestUseCodePage(932));
    const std::string text = Request(GetParam());
    ASSERT_GT(text.size(), 1000u) << GetParam();
    const std::string hello = Request("hello.txt"), bytes = Request("bytes.bin");
    ASSERT_EQ(hello.size(), 61u);
    ASSERT_EQ(bytes.size(), 256u);

    for (ScanMode mode : {ScanMode::kTextOnly, ScanMode::kAllParts}) {
        SCOPED_TRACE(mode == ScanMode::kTextOnly ? "text-only" : "all-parts");
        Scanned s = Scan(text, u"title", mode);
        EXPECT_EQ(s.result, 1);
        EXPECT_EQ(s.values, Values{"hello"});
        EXPECT_EQ(s.disposition, "form-data");

        s = Scan(text, u"comment", mode);
        EXPECT_EQ(s.values, Values{"line one\r\nline two"});

        s = Scan(text, u"COLOR", mode);
        EXPECT_EQ(s.result, 3);
        EXPECT_EQ(s.values, (Values{"red", "", "blue"}));

        // A file input left empty is a text part with an empty value.
        s = Scan(text, u"empty", mode);
        EXPECT_EQ(s.result, 1);
        EXPECT_EQ(s.values, Values{""});
        EXPECT_EQ(s.filename, "");
        EXPECT_EQ(s.contentType, "application/octet-stream");

        s = Scan(text, u"missing", mode);
        EXPECT_EQ(s.result, kScanNotFound);
    }

    Scanned s = Scan(text, u"upload", ScanMode::kTextOnly);
    EXPECT_EQ(s.result, kScanFilePart);
    s = Scan(text, u"upload", ScanMode::kAllParts);
    EXPECT_EQ(s.values, Values{hello});
    EXPECT_EQ(s.result, s.fileEnd);
    EXPECT_EQ(s.filename, "hello.txt");
    EXPECT_EQ(s.contentType, "text/plain");
    EXPECT_EQ(s.name, "upload");

    s = Scan(text, u"data", ScanMode::kAllParts);
    EXPECT_EQ(s.values, Values{bytes});
    EXPECT_EQ(s.result, s.fileEnd);
    EXPECT_EQ(s.filename, "bytes.bin");
    EXPECT_EQ(s.contentType, "application/octet-stream");
}

INSTANTIATE_TEST_SUITE_P(FormScan, CapturedForm,
                         ::testing::Values("chromium-form.bin", "firefox-form.bin", "curl-form.bin"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name(info.param);
                             return name.substr(0, name.find('-'));
                         });

class CapturedShiftJis : public ::testing::TestWithParam<const char*> {};

TEST_P(CapturedShiftJis, JapaneseNamesUnder932) {
    if (!TestUseCodePage(932)) GTEST_SKIP() << "this run's ANSI code page is not 932";
    const std::string text = Request(GetParam());
    ASSERT_GT(text.size(), 300u);
    Scanned s = Scan(text, u"名前", ScanMode::kTextOnly);
    EXPECT_EQ(s.values, Values{"\x93\x63\x92\x86\x20\x91\xBE\x98\x59"});  // 田中 太郎
    EXPECT_EQ(s.name, "\x96\xBC\x91\x4F");
    // 表 ends in 0x5C right before the closing quote.
    s = Scan(text, u"表", ScanMode::kTextOnly);
    EXPECT_EQ(s.values, Values{"\x83\x5C\x83\x74\x83\x67"});  // ソフト
    EXPECT_EQ(s.name, "\x95\x5C");

    EXPECT_EQ(Scan(text, u"添付", ScanMode::kTextOnly).result, kScanFilePart);
    s = Scan(text, u"添付", ScanMode::kAllParts);
    EXPECT_EQ(s.values, Values{Request("sjis-file.txt")});
    EXPECT_EQ(s.result, s.fileEnd);
    EXPECT_EQ(s.filename, "\x95\x5C.txt");  // 表.txt
    EXPECT_EQ(s.contentType, "text/plain");
}

TEST_P(CapturedShiftJis, JapaneseNamesNotFoundUnder1252) {
    if (!TestUseCodePage(1252)) GTEST_SKIP() << "this run's ANSI code page is not 1252";
    const std::string text = Request(GetParam());
    EXPECT_EQ(Scan(text, u"名前", ScanMode::kTextOnly).result, kScanNotFound);
    EXPECT_EQ(Scan(text, u"添付", ScanMode::kAllParts).result, kScanNotFound);
}

INSTANTIATE_TEST_SUITE_P(FormScan, CapturedShiftJis, ::testing::Values("chromium-sjis.bin", "firefox-sjis.bin"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name(info.param);
                             return name.substr(0, name.find('-'));
                         });

}  // namespace

// The item name's conversion to the ANSI code page and the case-insensitive
// comparison, under code pages 932 and 1252: a Japanese item name against a
// Shift_JIS name in the body, and names whose bytes mean different things in
// the two code pages.
#include "formscan/form_scan.h"

#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/scan_helpers.h"

#include <string>

namespace {

// Shift_JIS bytes.
const std::string kSjisNamae = "\x96\xBC\x91\x4F";       // 名前
const std::string kSjisSo = "\x83\x5C\x83\x74\x83\x67";  // ソフト (0x5C trail byte)
const std::string kSjisAbcFull = "\x82\x81\x82\x82\x82\x83";  // ａｂｃ (full-width)
const std::string kSjisFileName = "C:\\\x8E\xE8\x8F\x91\\\x97\x5C\x92\xE8.txt";  // C:\手書\予定.txt

std::int32_t Scan(const std::string& text, const char16_t* item, ScanMode mode, FormScan* record) {
    ExactBody body(text);
    const long lLive = TestHeapLiveBlocks();
    const std::int32_t result = ScanForm(body.data(), body.size(), item, record, mode);
    EXPECT_EQ(TestHeapLiveBlocks(), lLive);
    return result;
}

TEST(CodePage932, JapaneseItemNameFindsShiftJisName) {
    if (!TestUseCodePage(932)) GTEST_SKIP() << "this run's ANSI code page is not 932";
    auto record = NewRecord();
    const std::string text = TextPart(kSjisNamae, "Yamada") + TextPart("x", "y") + TextPart(kSjisNamae, "Taro") + kClose;
    ExactBody body(text);
    EXPECT_EQ(ScanForm(body.data(), body.size(), u"名前", record.get(), ScanMode::kTextOnly), 2);
    EXPECT_EQ(std::string(record->szName), kSjisNamae);
    EXPECT_EQ(body.Slice(*record, 0), "Yamada");
    EXPECT_EQ(body.Slice(*record, 1), "Taro");
    EXPECT_EQ(Scan(text, u"名", ScanMode::kTextOnly, record.get()), kScanNotFound);

    // A trail byte 0x5C ('\') is copied and compared as part of its character.
    EXPECT_EQ(Scan(TextPart(kSjisSo, "v") + kClose, u"ソフト", ScanMode::kTextOnly, record.get()), 1);
    EXPECT_EQ(std::string(record->szName), kSjisSo);

    // Full-width letters compare without regard to case.
    EXPECT_EQ(Scan(TextPart(kSjisAbcFull, "v") + kClose, u"ＡＢＣ", ScanMode::kAllParts, record.get()), 1);

    // A file part with a Japanese field name and a Shift_JIS client path.
    const std::string file = FilePart(kSjisNamae, kSjisFileName, "text/plain", "data") + kClose;
    EXPECT_EQ(Scan(file, u"名前", ScanMode::kTextOnly, record.get()), kScanFilePart);
    EXPECT_GT(Scan(file, u"名前", ScanMode::kAllParts, record.get()), 0);
    EXPECT_EQ(std::string(record->szFilename), kSjisFileName);
}

TEST(CodePage932, LatinNameIsNotAShiftJisByte) {
    if (!TestUseCodePage(932)) GTEST_SKIP() << "this run's ANSI code page is not 932";
    auto record = NewRecord();
    // 0xC4 is a half-width katakana in 932; U+00C4 has no 932 byte.
    EXPECT_EQ(Scan(TextPart("\xC4", "v") + kClose, u"\u00C4", ScanMode::kTextOnly, record.get()), kScanNotFound);
    EXPECT_EQ(Scan(TextPart("\xC4", "v") + kClose, u"\uFF84", ScanMode::kTextOnly, record.get()), 1);  // ﾄ
}

TEST(CodePage1252, JapaneseItemNameDoesNotFindShiftJisName) {
    if (!TestUseCodePage(1252)) GTEST_SKIP() << "this run's ANSI code page is not 1252";
    auto record = NewRecord();
    const std::string text = TextPart(kSjisNamae, "Yamada") + kClose;
    EXPECT_EQ(Scan(text, u"名前", ScanMode::kTextOnly, record.get()), kScanNotFound);
    // The same bytes read as 1252 text: "–¼‘O".
    EXPECT_EQ(Scan(text, u"\u2013\u00BC\u2018O", ScanMode::kTextOnly, record.get()), 1);
    // A name the code page cannot spell names no part, not even one literally
    // named "??" (its spelling with the default character).
    EXPECT_EQ(Scan(TextPart("??", "q") + kClose, u"名前", ScanMode::kTextOnly, record.get()), kScanNotFound);
}

TEST(CodePage1252, LatinLettersCompareWithoutCase) {
    if (!TestUseCodePage(1252)) GTEST_SKIP() << "this run's ANSI code page is not 1252";
    auto record = NewRecord();
    EXPECT_EQ(Scan(TextPart("\xE4pfel", "v") + TextPart("\xC4PFEL", "w") + kClose, u"Äpfel", ScanMode::kTextOnly, record.get()), 2);
    EXPECT_EQ(std::string(record->szName), "\xC4PFEL");
}

}  // namespace

// ScanForm's recognition rules as a table of small bodies, run in
// the modes each row names, with the expected result, slices and header
// fields; every run must leave no module-heap block behind and agree with the
// same scan over the plain position-by-position search.
#include "formscan/form_scan.h"

#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/scan_helpers.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

enum Modes { kTextOnly = 1, kAllParts = 2, kBoth = 3 };
// Expected result: the file part's end (value start + length + 2).
constexpr std::int32_t kFileEnd = 0x7fffffff;

struct Fields {
    std::string name, disposition, contentType, filename;
};

struct ScanCase {
    const char* label;
    std::string body;
    const char16_t* item;  // null: a null item name
    int modes;
    std::int32_t result;
    std::vector<std::string> values;
    Fields fields;
};

const Fields kNoFields{};
Fields Text(const std::string& name) { return Fields{name, "form-data", "", ""}; }
Fields File(const std::string& name, const std::string& type, const std::string& filename) {
    return Fields{name, "form-data", type, filename};
}

const std::string kSample = TextPart("comment", "Hello") +
                            FilePart("file1", "C:\\dir\\a.txt", "text/plain; charset=UTF-8", "file body") + kClose;
const std::string kMixed = TextPart("f", "t1") + FilePart("f", "a.bin", "application/octet-stream", "BIN") +
                           TextPart("f", "t2") + kClose;
const std::string kRepeated = TextPart("a", "1") + TextPart("A", "2") + TextPart("b", "x") + TextPart("a", "3") + kClose;

std::vector<ScanCase> Cases() {
    return {
        {"one text field", kSample, u"comment", kBoth, 1, {"Hello"}, Text("comment")},
        {"file part in text-only mode", kSample, u"file1", kTextOnly, kScanFilePart, {}, kNoFields},
        {"file part in all-parts mode", kSample, u"file1", kAllParts, kFileEnd, {"file body"},
         File("file1", "text/plain", "C:\\dir\\a.txt")},
        {"no part of that name", kSample, u"missing", kBoth, kScanNotFound, {}, kNoFields},
        {"null item name", kSample, nullptr, kBoth, kScanFailed, {}, kNoFields},
        {"empty body", "", u"comment", kBoth, kScanFailed, {}, kNoFields},
        {"no CR LF anywhere (LF only)", "--AaB03x\nContent-Disposition: form-data; name=\"a\"\n\n1\n--AaB03x--\n", u"a",
         kBoth, kScanFailed, {}, kNoFields},
        {"body begins with CR LF: no boundary", "\r\n" + TextPart("a", "1") + kClose, u"a", kBoth, kScanFailed, {},
         kNoFields},
        {"only CR LF", "\r\n", u"", kBoth, kScanFailed, {}, kNoFields},
        {"only a closing line", kClose, u"a", kBoth, kScanNotFound, {}, kNoFields},
        {"first line of one byte: empty boundary text", "x\r\n" + TextPart("a", "1") + kClose, u"a", kBoth,
         kScanNotFound, {}, kNoFields},
        {"names compare without regard to case", kRepeated, u"a", kBoth, 3, {"1", "2", "3"}, Text("a")},
        {"upper-case item name", kRepeated, u"A", kBoth, 3, {"1", "2", "3"}, Text("a")},
        {"empty value counts", TextPart("e", "") + kClose, u"e", kBoth, 1, {""}, Text("e")},
        {"multi-line value keeps its inner CR LF", TextPart("m", "line1\r\nline2") + kClose, u"m", kBoth, 1,
         {"line1\r\nline2"}, Text("m")},
        {"value ending in its own CR LF keeps it", TextPart("m", "line1\r\n") + kClose, u"m", kBoth, 1,
         {"line1\r\n"}, Text("m")},
        {"text-only: file part after text parts", kMixed, u"f", kTextOnly, kScanFilePart, {"t1"}, Text("f")},
        {"all-parts: file part drops text values, ends the scan", kMixed, u"f", kAllParts, kFileEnd, {"BIN"},
         File("f", "application/octet-stream", "a.bin")},
        {"empty file content", FilePart("f", "e.bin", "application/octet-stream", "") + kClose, u"f", kAllParts,
         kFileEnd, {""}, File("f", "application/octet-stream", "e.bin")},
        {"empty filename parameter is a text part",
         "--AaB03x\r\nContent-Disposition: form-data; name=\"up\"; filename=\"\"\r\nContent-Type: "
         "application/octet-stream\r\n\r\n\r\n" + kClose,
         u"up", kBoth, 1, {""}, Fields{"up", "form-data", "application/octet-stream", ""}},
        {"filename before name: found under the field name",
         "--AaB03x\r\nContent-Disposition: form-data; filename=\"pic.jpg\"; name=\"upload\"\r\nContent-Type: "
         "image/jpeg\r\n\r\nJPEG\r\n" + kClose,
         u"upload", kAllParts, kFileEnd, {"JPEG"}, File("upload", "image/jpeg", "pic.jpg")},
        {"filename before name, text-only",
         "--AaB03x\r\nContent-Disposition: form-data; filename=\"pic.jpg\"; name=\"upload\"\r\n\r\nJPEG\r\n" + kClose,
         u"upload", kTextOnly, kScanFilePart, {}, kNoFields},
        {"filename before name: not found under the file's name",
         "--AaB03x\r\nContent-Disposition: form-data; filename=\"pic.jpg\"; name=\"upload\"\r\n\r\nJPEG\r\n" + kClose,
         u"pic.jpg", kBoth, kScanNotFound, {}, kNoFields},
        {"filename only: the part has no name",
         "--AaB03x\r\nContent-Disposition: form-data; filename=\"pic.jpg\"\r\n\r\nJPEG\r\n" + kClose, u"", kAllParts,
         kFileEnd, {"JPEG"}, Fields{"", "form-data", "", "pic.jpg"}},
        {"lower-case header key leaves szDisposition empty",
         "--AaB03x\r\ncontent-disposition: form-data; name=\"low\"\r\n\r\nv\r\n" + kClose, u"low", kBoth, 1, {"v"},
         Fields{"low", "", "", ""}},
        {"unquoted name is not found", "--AaB03x\r\nContent-Disposition: form-data; name=bare\r\n\r\nv\r\n" + kClose,
         u"bare", kBoth, kScanNotFound, {}, kNoFields},
        {"unquoted name: the part has an empty name",
         "--AaB03x\r\nContent-Disposition: form-data; name=bare\r\n\r\nv\r\n" + kClose, u"", kBoth, 1, {"v"},
         Text("")},
        {"empty item name matches a part without a name key",
         "--AaB03x\r\nContent-Type: text/plain\r\n\r\nanon\r\n" + TextPart("x", "1") + kClose, u"", kBoth, 1,
         {"anon"}, Fields{"", "", "text/plain", ""}},
        {"closing line without CR LF: last text value missing", TextPart("a", "1") + TextPart("a", "2") + "--AaB03x--",
         u"a", kBoth, 1, {"1"}, Text("a")},
        {"closing line missing: the only text value missing", TextPart("a", "1"), u"a", kBoth, kScanNotFound, {},
         Text("a")},
        {"closing line without CR LF: file part gives -1",
         FilePart("f", "a.txt", "text/plain", "data") + "--AaB03x--", u"f", kAllParts, kScanNotFound, {},
         File("f", "text/plain", "a.txt")},
        {"no CR LF between value start and delimiter: empty value",
         "--AaB03x\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nabc--AaB03x--\r\n", u"a", kBoth, 1, {""},
         Text("a")},
        {"delimiters with one and with many leading dashes",
         TextPart("a", "one", "-AaB03x") + TextPart("a", "two", "------AaB03x") + TextPart("a", "three", "--AaB03x") +
             "-AaB03x--\r\n",
         u"a", kBoth, 3, {"one", "two", "three"}, Text("a")},
        {"dash inside the boundary parameter: a content line ending in -def",
         "--abc-def\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nfoo\r\nbar-def\r\nbaz\r\n--abc-def--\r\n",
         u"a", kBoth, 1, {"foo"}, Text("a")},
        {"preamble taken for the delimiter line", "preamble text\r\n" + TextPart("a", "1") + kClose, u"a", kBoth,
         kScanNotFound, {}, kNoFields},
        {"headers without blank line swallow the next part",
         "--AaB03x\r\nContent-Disposition: form-data; name=\"a\"\r\nvalueA\r\n--AaB03x\r\nContent-Disposition: "
         "form-data; name=\"b\"\r\nContent-Type: text/x\r\n\r\nvalueB\r\n" + kClose,
         u"a", kBoth, 1, {"valueB"}, Fields{"a", "form-data", "text/x", ""}},
        {"headers without blank line: the next part is not seen",
         "--AaB03x\r\nContent-Disposition: form-data; name=\"a\"\r\nvalueA\r\n--AaB03x\r\nContent-Disposition: "
         "form-data; name=\"b\"\r\n\r\nvalueB\r\n" + kClose,
         u"b", kBoth, kScanNotFound, {}, kNoFields},
        {"no blank line after any header", "--AaB03x\r\nContent-Disposition: form-data; name=\"a\"\r\nv\r\n" + kClose,
         u"a", kBoth, kScanNotFound, {}, kNoFields},
        {"';' inside a quoted name stops the name", TextPart("a;b", "v") + kClose, u"a", kBoth, 1, {"v"}, Text("a")},
        {"';' inside a quoted name: full name not found", TextPart("a;b", "v") + kClose, u"a;b", kBoth,
         kScanNotFound, {}, kNoFields},
        {"no leading space skipped, first key occurrence wins",
         "--AaB03x\r\nX-Note: name=\"other\"\r\nContent-Disposition: form-data; name=\"real\"\r\nContent-Type:  "
         "text/a\r\nContent-Type: text/b\r\n\r\nv\r\n" + kClose,
         u"other", kBoth, 1, {"v"}, Fields{"other", "form-data", " text/a", ""}},
        {"NUL in a header block ends its text",
         std::string("--AaB03x\r\nX-Junk: a") + '\0' + "b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nv\r\n" +
             kClose,
         u"", kBoth, 1, {"v"}, kNoFields},
        {"NUL in the first line ends the boundary text",
         std::string("--Aa\0Bx\r\n", 9) + TextPart("a", "1", "--Aa") + TextPart("a", "2", "--Aa") + "--Aa--\r\n",
         u"a", kBoth, 2, {"1", "2"}, Text("a")},
        // Pattern "-\r\n": the first line itself is a boundary line, the part's
        // header block starts with its own delimiter line, and its value ends
        // before the closing line's last dash.
        {"empty boundary text from a closing first line", "--AaB03x--\r\n" + TextPart("a", "1") + kClose, u"a", kBoth,
         1, {"1"}, Text("a")},
        {"CR LF inside a file's content is kept",
         FilePart("f", "a.txt", "text/plain", "x\r\n\r\ny\r\n") + TextPart("g", "1") + kClose, u"f", kAllParts,
         kFileEnd, {"x\r\n\r\ny\r\n"}, File("f", "text/plain", "a.txt")},
    };
}

class ScanTable : public ::testing::TestWithParam<std::size_t> {};

void CheckCase(const ScanCase& c, ScanMode mode) {
    SCOPED_TRACE(std::string(c.label) + (mode == ScanMode::kTextOnly ? " [text-only]" : " [all-parts]"));
    ExactBody body(c.body);
    auto record = NewRecord();
    const long lLive = TestHeapLiveBlocks();
    const std::int32_t result = ScanForm(body.data(), body.size(), c.item, record.get(), mode);
    EXPECT_EQ(TestHeapLiveBlocks(), lLive) << "a heap block was left";

    ASSERT_EQ(record->lValueCount, static_cast<std::int32_t>(c.values.size()));
    for (std::int32_t i = 0; i < record->lValueCount; ++i) {
        ASSERT_GE(record->lValueLength[i], 0);
        ASSERT_GE(record->pValueStart[i], body.data());
        ASSERT_LE(record->pValueStart[i] + record->lValueLength[i], body.data() + body.size());
        EXPECT_EQ(body.Slice(*record, i), c.values[i]) << "value " << i;
    }
    if (c.result == kFileEnd) {
        ASSERT_EQ(record->lValueCount, 1);
        EXPECT_EQ(result, body.OffsetOf(record->pValueStart[0]) + record->lValueLength[0] + 2);
    } else {
        EXPECT_EQ(result, c.result);
    }
    EXPECT_STREQ(record->szName, c.fields.name.c_str());
    EXPECT_STREQ(record->szDisposition, c.fields.disposition.c_str());
    EXPECT_STREQ(record->szContentType, c.fields.contentType.c_str());
    EXPECT_STREQ(record->szFilename, c.fields.filename.c_str());

    // The same scan over the plain position-by-position search.
    auto reference = NewRecord();
    EXPECT_EQ(formscan::ScanFormWith<PlainSearchPolicy>(body.data(), body.size(), c.item, reference.get(), mode),
              result);
    EXPECT_EQ(std::memcmp(reference.get(), record.get(), sizeof(FormScan)), 0);
}

TEST_P(ScanTable, Row) {
    ASSERT_TRUE(TestUseCodePage(1252) || TestUseCodePage(932));
    const ScanCase c = Cases()[GetParam()];
    if (c.modes & kTextOnly) CheckCase(c, ScanMode::kTextOnly);
    if (c.modes & kAllParts) CheckCase(c, ScanMode::kAllParts);
}

INSTANTIATE_TEST_SUITE_P(FormScan, ScanTable, ::testing::Range<std::size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string name;
                             for (const char* p = Cases()[info.param].label; *p; ++p)
                                 name += (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                             return std::to_string(info.param) + "_" + name;
                         });

TEST(FormScan, ClearsTheHeaderFieldsAndCountFirst) {
    // The header fields (zero past their text) and the count are cleared;
    // entries at and past the count are no part of the result and are not
    // touched.
    auto record = NewRecord();
    EXPECT_EQ(ScanForm(nullptr, 0, nullptr, record.get(), ScanMode::kTextOnly), kScanFailed);
    const PartHeaders zero{};
    EXPECT_EQ(std::memcmp(static_cast<const PartHeaders*>(record.get()), &zero, sizeof zero), 0);
    EXPECT_EQ(record->lValueCount, 0);

    ExactBody body(TextPart("a", "1") + kClose);
    record = NewRecord();
    EXPECT_EQ(ScanForm(body.data(), body.size(), u"a", record.get(), ScanMode::kTextOnly), 1);
    PartHeaders expected{};
    std::strcpy(expected.szName, "a");
    std::strcpy(expected.szDisposition, "form-data");
    EXPECT_EQ(std::memcmp(static_cast<const PartHeaders*>(record.get()), &expected, sizeof expected), 0);
    const auto untouched = NewRecord();
    EXPECT_EQ(std::memcmp(&record->pValueStart[1], &untouched->pValueStart[1], sizeof record->pValueStart - sizeof record->pValueStart[0]), 0);
}

TEST(FormScan, RepeatedHeaderBlocksGiveTheFieldsOfTheLastAcceptedPart) {
    // A header block equal to the last accepted one is read once; a block
    // that differs (here only in the name's case, or in a Content-Type) is
    // read again, and the fields hold zero bytes past their text.
    ASSERT_TRUE(TestUseCodePage(1252) || TestUseCodePage(932));
    const std::string typed = "--AaB03x\r\nContent-Disposition: form-data; name=\"A\"\r\nContent-Type: text/plain\r\n\r\n3\r\n";
    ExactBody body(TextPart("a", "1") + TextPart("a", "2") + typed + TextPart("a", "4") + TextPart("b", "5") + kClose);
    for (ScanMode mode : {ScanMode::kTextOnly, ScanMode::kAllParts}) {
        auto record = NewRecord();
        ASSERT_EQ(ScanForm(body.data(), body.size(), u"a", record.get(), mode), 4);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(body.Slice(*record, i), std::to_string(i + 1));
        PartHeaders expected{};
        std::strcpy(expected.szName, "a");
        std::strcpy(expected.szDisposition, "form-data");
        EXPECT_EQ(std::memcmp(static_cast<const PartHeaders*>(record.get()), &expected, sizeof expected), 0);
    }
}

TEST(FormScan, ExactFileEndOffset) {
    // "--X\r\n" (5) + header (54) + "\r\n\r\n" (4): the content starts at 63.
    const std::string text = "--X\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n\r\nAB\r\n--X--\r\n";
    ExactBody body(text);
    auto record = NewRecord();
    ASSERT_EQ(text.find("AB"), 63u);
    EXPECT_EQ(ScanForm(body.data(), body.size(), u"f", record.get(), ScanMode::kAllParts), 63 + 2 + 2);
    EXPECT_EQ(record->lValueCount, 1);
    EXPECT_EQ(body.OffsetOf(record->pValueStart[0]), 63);
}

TEST(FormScan, ValueCapOf3000) {
    for (int nParts : {2999, 3000, 3001, 3500}) {
        SCOPED_TRACE(nParts);
        std::string text;
        for (int i = 0; i < nParts; ++i) text += TextPart("v", std::to_string(i));
        text += kClose;
        ExactBody body(text);
        auto record = NewRecord();
        const long lLive = TestHeapLiveBlocks();
        for (ScanMode mode : {ScanMode::kTextOnly, ScanMode::kAllParts}) {
            const std::int32_t expected = nParts < 3000 ? nParts : 3000;
            EXPECT_EQ(ScanForm(body.data(), body.size(), u"v", record.get(), mode), expected);
            ASSERT_EQ(record->lValueCount, expected);
            EXPECT_EQ(body.Slice(*record, 0), "0");
            EXPECT_EQ(body.Slice(*record, expected - 1), std::to_string(expected - 1));
        }
        EXPECT_EQ(TestHeapLiveBlocks(), lLive);
    }
}

TEST(FormScan, AllPartsFileAfterFullTable) {
    // A file part after 3000 stored values still becomes the only value.
    std::string text;
    for (int i = 0; i < 3001; ++i) text += TextPart("v", "t");
    text += FilePart("v", "f.bin", "application/octet-stream", "FILE") + kClose;
    ExactBody body(text);
    auto record = NewRecord();
    const std::int32_t result = ScanForm(body.data(), body.size(), u"v", record.get(), ScanMode::kAllParts);
    ASSERT_EQ(record->lValueCount, 1);
    EXPECT_EQ(body.Slice(*record, 0), "FILE");
    EXPECT_EQ(result, body.OffsetOf(record->pValueStart[0]) + 4 + 2);
    EXPECT_EQ(ScanForm(body.data(), body.size(), u"v", record.get(), ScanMode::kTextOnly), kScanFilePart);
    EXPECT_EQ(record->lValueCount, 3000);
}

TEST(FormScan, HeaderFieldOf256BytesFitsLongerIsCut) {
    const std::string name256(256, 'n');
    const std::string type300 = "application/" + std::string(288, 'x');
    const std::string filename400(400, 'f');
    const std::string text = "--AaB03x\r\nContent-Disposition: form-data; name=\"" + name256 + "\"; filename=\"" +
                             filename400 + "\"\r\nContent-Type: " + type300 + "\r\n\r\nv\r\n" + kClose;
    ExactBody body(text);
    auto record = NewRecord();
    std::u16string item(name256.begin(), name256.end());
    EXPECT_GT(ScanForm(body.data(), body.size(), item.c_str(), record.get(), ScanMode::kAllParts), 0);
    EXPECT_EQ(std::string(record->szName), name256);
    EXPECT_EQ(std::string(record->szFilename), filename400.substr(0, 256));
    EXPECT_EQ(std::string(record->szContentType), type300.substr(0, 256));
    EXPECT_EQ(record->lValueCount, 1);

    // A 300-byte name is cut to 256 bytes: the 256-byte prefix finds it.
    const std::string name300(300, 'm');
    ExactBody body2(TextPart(name300, "w") + kClose);
    std::u16string full(name300.begin(), name300.end()), cut(name300.begin(), name300.begin() + 256);
    EXPECT_EQ(ScanForm(body2.data(), body2.size(), full.c_str(), record.get(), ScanMode::kTextOnly), kScanNotFound);
    EXPECT_EQ(ScanForm(body2.data(), body2.size(), cut.c_str(), record.get(), ScanMode::kTextOnly), 1);

    // An item name too long for the scan's own storage matches nothing.
    std::u16string huge(5000, u'm');
    EXPECT_EQ(ScanForm(body2.data(), body2.size(), huge.c_str(), record.get(), ScanMode::kTextOnly), kScanNotFound);
}

TEST(FormScan, NeverReadsAtOrBeyondTheLength) {
    // The body's own length ends inside a longer buffer: nothing past it counts.
    const std::string text = TextPart("a", "1") + TextPart("a", "2") + kClose;
    const std::int32_t cbCut = static_cast<std::int32_t>(text.find("2\r\n--AaB03x--"));
    ExactBody body(text.substr(0, static_cast<std::size_t>(cbCut)));
    auto record = NewRecord();
    EXPECT_EQ(ScanForm(body.data(), body.size(), u"a", record.get(), ScanMode::kTextOnly), 1);
    EXPECT_EQ(body.Slice(*record, 0), "1");
}

}  // namespace

// DetectedType against small files built from each format's fields, with the
// lookalikes that carry a format's first bytes by chance (text that begins
// "MZ", "BM" or "ID3"; a cursor; a ZIP that is no office document), and the
// answers on cut bytes.
#include "filefacts/file_facts.h"

#include <gtest/gtest.h>

#include "tests/common/fact_bytes.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

namespace {

using namespace facts_test;

struct TypeCase {
    const char* what;
    Bytes bytes;
    const char* type;
};

void PrintTo(const TypeCase& c, std::ostream* pOut) { *pOut << c.what; }

const char kZip[] = "application/zip", kText[] = "text/plain", kMp3[] = "audio/mpeg",
           kExe[] = "application/x-msdownload", kTiff[] = "image/tiff", kIcon[] = "image/vnd.microsoft.icon",
           kMp4[] = "video/mp4";
const char kDocx[] = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
const char kXlsx[] = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
const char kPptx[] = "application/vnd.openxmlformats-officedocument.presentationml.presentation";
const char kOdt[] = "application/vnd.oasis.opendocument.text";
const char kOds[] = "application/vnd.oasis.opendocument.spreadsheet";
const char kOdp[] = "application/vnd.oasis.opendocument.presentation";
const char kOdg[] = "application/vnd.oasis.opendocument.graphics";

// An icon directory: reserved, type, count, then one entry: width, height,
// colours, reserved, planes, bits, data size, data offset.
Bytes Icon(int type, int nImages, int reserved, int planes, int bits, std::uint32_t lData) {
    return Le16(0) + Le16(std::uint32_t(type)) + Le16(std::uint32_t(nImages)) + B("\x10\x10\0") + char(reserved) +
           Le16(std::uint32_t(planes)) + Le16(std::uint32_t(bits)) + Le32(0x468) + Le32(lData);
}

// ftyp: size, type, major brand, minor version, compatible brands.
Bytes Ftyp(const Bytes& brand, std::uint32_t cbBox = 24) { return Be32(cbBox) + "ftyp" + brand + Be32(0) + "isomiso2"; }

// MPEG audio: the header at 0 and, at the first frame's length, the next,
// then zeros, so that a length reckoned wrongly finds no header.
Bytes Frames(const Bytes& header, std::size_t cbFrame, const Bytes& next) {
    return header + Bytes(cbFrame - header.size(), '\0') + next + Bytes(cbFrame, '\0');
}
const Bytes kMpeg1Layer3 = B("\xFF\xFB\x90\0");  // 128 kbit/s, 44.1 kHz: 417 bytes
const Bytes kMpeg2Layer3 = B("\xFF\xF3\x80\0");  // 64 kbit/s, 22.05 kHz: 208 bytes
const Bytes kMpeg25Layer3 = B("\xFF\xE3\x10\0");  // 8 kbit/s, 11.025 kHz: 52 bytes
const Bytes kMpeg1Layer1 = B("\xFF\xFF\x12\0");  // 32 kbit/s, 44.1 kHz, padded: 36 bytes
const Bytes kMpeg1Layer2 = B("\xFF\xFD\x14\0");  // 32 kbit/s, 48 kHz: 96 bytes

// A DOS header of 64 bytes whose last field points at "PE\0\0" right after.
Bytes Executable() {
    Bytes dos = "MZ" + Le16(0x90) + Le16(3) + Le16(0) + Le16(4) + Bytes(0x3C - 10, '\0') + Le32(0x40);
    return dos + B("PE\0\0\x4C\x01");
}

const Bytes kContentTypes = ZipEntry("[Content_Types].xml", "\x8D\x8E\x3D\x0E", 8);
const Bytes kRels = ZipEntry("_rels/.rels", "\x12\x34", 8);
// ZIP64: sizes of 0xFFFFFFFF, the real ones in extra block 1 (plain, packed).
const Bytes kContentTypes64 = ZipHeader("[Content_Types].xml", 0, 8, 0xFFFFFFFF, 0xFFFFFFFF,
                                        Le16(1) + Le16(16) + Le32(9) + Le32(0) + Le32(3) + Le32(0)) +
                              "abc";

const TypeCase kTypeCases[] = {
    // Images ImageSize does not read.
    {"tiff little-endian", B("II*\0\x08\0\0\0"), kTiff},
    {"tiff big-endian", B("MM\0*\0\0\0\x08"), kTiff},
    {"bigtiff", B("II+\0\x08\0\0\0\x10\0\0\0\0\0\0\0"), kTiff},
    {"tiff with its IFD inside the header", B("II*\0\x04\0\0\0"), ""},
    {"tiff cut", B("II*\0\x08\0\0"), ""},
    {"bigtiff offsets of 4 bytes", B("MM\0+\0\x04\0\0"), ""},
    {"icon", Icon(1, 1, 0, 1, 32, 22), kIcon},
    {"icon of 2 images", Icon(1, 2, 0, 0, 0, 38), kIcon},
    {"icon data inside its directory", Icon(1, 2, 0, 1, 32, 37), ""},
    {"icon of no image", Icon(1, 0, 0, 1, 32, 22), ""},
    {"icon reserved byte set", Icon(1, 1, 1, 1, 32, 22), ""},
    {"icon of 2 planes", Icon(1, 1, 0, 2, 32, 22), ""},
    {"icon of 3 bits", Icon(1, 1, 0, 1, 3, 22), ""},
    {"cursor", Icon(2, 1, 0, 1, 32, 22), ""},
    {"bmp", Bmp(40, 1, 1), "image/bmp"},
    {"text beginning BM", "BMW and Audi\n", kText},
    {"text beginning GIF", "GIF89 is no version\n", kText},

    // Documents and archives.
    {"pdf", "%PDF-1.4\n", "application/pdf"},
    {"pdf after a blank", " %PDF-1.4\n", kText},
    {"gzip", B("\x1F\x8B\x08\0\0\0\0\0\0\x03"), "application/gzip"},
    {"gzip with a name", B("\x1F\x8B\x08\x08\0\0\0\0\0\x03" "a.txt\0"), "application/gzip"},
    {"gzip method 7", B("\x1F\x8B\x07\0\0\0\0\0\0\x03"), ""},
    {"gzip reserved flag", B("\x1F\x8B\x08\x20\0\0\0\0\0\x03"), ""},
    {"7z", B("7z\xBC\xAF\x27\x1C\0\x04"), "application/x-7z-compressed"},
    {"rar 4", B("Rar!\x1A\x07\0\xCF\x90\x73\0\0"), "application/vnd.rar"},
    {"rar 5", B("Rar!\x1A\x07\x01\0\x33\x92"), "application/vnd.rar"},
    {"rar of an unknown version", B("Rar!\x1A\x07\x02\0"), ""},

    // ZIP, and the packages that are ZIPs.
    {"zip", ZipEntry("a.txt", "hello"), kZip},
    {"zip empty", B("PK\x05\x06") + Bytes(18, '\0'), kZip},
    {"zip header cut", ZipEntry("a.txt", "hello").substr(0, 20), kZip},
    {"odt", ZipEntry("mimetype", kOdt) + ZipEntry("content.xml", "x", 8), kOdt},
    {"ods", ZipEntry("mimetype", kOds), kOds},
    {"odp", ZipEntry("mimetype", kOdp), kOdp},
    {"odg", ZipEntry("mimetype", kOdg), kOdg},
    {"odt template", ZipEntry("mimetype", Bytes(kOdt) + "-template"),
     "application/vnd.oasis.opendocument.text-template"},
    {"odt mimetype deflated", ZipEntry("mimetype", kOdt, 8), kZip},
    {"odt mimetype sizes after the data", ZipEntry("mimetype", kOdt, 0, 8), kZip},
    {"odt mimetype packed and plain sizes differ", ZipHeader("mimetype", 0, 0, 39, 40) + kOdt, kZip},
    {"odt mimetype cut", ZipEntry("mimetype", kOdt).substr(0, 30 + 8 + 38), kZip},
    {"odt mimetype with a newline", ZipEntry("mimetype", Bytes(kOdt) + "\n"), kZip},
    {"odt mimetype not first", ZipEntry("a", "") + ZipEntry("mimetype", kOdt), kZip},
    {"another package's mimetype", ZipEntry("mimetype", "application/epub+zip"), kZip},
    {"docx", kContentTypes + kRels + ZipEntry("word/document.xml", "d", 8), kDocx},
    {"xlsx", kContentTypes + kRels + ZipEntry("xl/workbook.xml", "d", 8), kXlsx},
    {"pptx", kContentTypes + kRels + ZipEntry("ppt/presentation.xml", "d", 8), kPptx},
    {"docx with [Content_Types].xml last", ZipEntry("word/document.xml", "d", 8) + kContentTypes, kDocx},
    {"docx folder entry first", kContentTypes + ZipEntry("word/", ""), kDocx},
    {"docx the first folder decides", kContentTypes + ZipEntry("xl/a.xml", "") + ZipEntry("word/b.xml", ""), kXlsx},
    {"docx sizes after the data", ZipEntry("[Content_Types].xml", "abc", 8, 8) + ZipEntry("word/a.xml", "", 8, 8),
     kDocx},
    {"docx ZIP64 sizes", kContentTypes64 + ZipEntry("word/document.xml", "d", 8), kDocx},
    {"docx ZIP64 block overrunning the extra field",
     ZipHeader("[Content_Types].xml", 0, 8, 0xFFFFFFFF, 0xFFFFFFFF, Le16(1) + Le16(17) + Bytes(16, '\0')) +
         ZipEntry("word/document.xml", "d", 8),
     kZip},
    {"docx ZIP64 block missing",
     ZipHeader("[Content_Types].xml", 0, 8, 0xFFFFFFFF, 0xFFFFFFFF, Le16(7) + Le16(0)) +
         ZipEntry("word/document.xml", "d", 8),
     kZip},
    {"docx next entry past the bytes", ZipHeader("[Content_Types].xml", 0, 8, 100000, 200000) + "abc", kZip},
    {"docx entry size 1 short", ZipHeader("[Content_Types].xml", 0, 8, 2, 2) + "abc" + ZipEntry("word/a", ""), kZip},
    {"word folder alone", ZipEntry("word/document.xml", "d", 8) + kRels, kZip},
    {"[Content_Types].xml alone", kContentTypes + kRels, kZip},
    {"a name that only begins like the folder", kContentTypes + ZipEntry("words.txt", ""), kZip},

    // Sound and video.
    {"wav", Riff("WAVE", Chunk("fmt ", Bytes(16, '\0'))), "audio/wav"},
    {"riff of another form", Riff("AVI ", Chunk("LIST", "")), ""},
    {"mp4 isom", Ftyp("isom"), kMp4},
    {"mp4 mp42", Ftyp("mp42"), kMp4},
    {"mp4 avc1", Ftyp("avc1"), kMp4},
    {"quicktime", Ftyp("qt  ", 20), "video/quicktime"},
    {"heif is no video", Ftyp("heic"), ""},
    {"m4a is no video", Ftyp("M4A "), ""},
    {"ftyp box too small for its brand", Ftyp("isom", 12), ""},
    {"ftyp not first", Be32(8) + "free" + Ftyp("isom"), ""},
    {"id3v2.3", B("ID3\x03\0\0\0\0\x10\0"), kMp3},
    {"id3v2.4 with a footer", B("ID3\x04\0\x10\0\0\x01\x7F"), kMp3},
    {"id3v2.2 compressed", B("ID3\x02\0\x40\0\0\0\0"), kMp3},
    {"id3v2.3 unused flag", B("ID3\x03\0\x10\0\0\0\0"), ""},
    {"id3v2.5", B("ID3\x05\0\0\0\0\0\0"), ""},
    {"id3 revision 255", B("ID3\x03\xFF\0\0\0\0\0"), ""},
    {"id3 size byte of 8 bits", B("ID3\x03\0\0\x80\0\0\0"), ""},
    {"text beginning ID3", "ID3 tags are fun\n", kText},
    {"mpeg-1 layer III, two frames", Frames(kMpeg1Layer3, 417, kMpeg1Layer3), kMp3},
    {"mpeg-1 layer III, padded", Frames(B("\xFF\xFB\x92\0"), 418, kMpeg1Layer3), kMp3},
    {"mpeg-2 layer III, two frames", Frames(kMpeg2Layer3, 208, kMpeg2Layer3), kMp3},
    {"mpeg-2.5 layer III, two frames", Frames(kMpeg25Layer3, 52, kMpeg25Layer3), kMp3},
    {"mpeg-1 layer I, two frames", Frames(kMpeg1Layer1, 36, kMpeg1Layer1), kMp3},
    {"mpeg-1 layer II, two frames", Frames(kMpeg1Layer2, 96, kMpeg1Layer2), kMp3},
    {"mpeg frame header alone", kMpeg1Layer3, kMp3},
    {"mpeg second frame one byte early", Frames(kMpeg1Layer3, 416, kMpeg1Layer3), ""},
    {"mpeg second frame of another rate", Frames(kMpeg1Layer3, 417, B("\xFF\xFB\x94\0")), ""},
    {"mpeg second frame of another layer", Frames(kMpeg1Layer3, 417, B("\xFF\xFD\x90\0")), ""},
    {"mpeg reserved version", B("\xFF\xEB\x90\0"), ""},
    {"mpeg reserved layer", B("\xFF\xF9\x90\0"), ""},
    {"mpeg free bit rate", B("\xFF\xFB\0\0"), ""},
    {"mpeg bad bit rate", B("\xFF\xFB\xF0\0"), ""},
    {"mpeg reserved sampling rate", B("\xFF\xFB\x9C\0"), ""},
    {"mpeg reserved emphasis", B("\xFF\xFB\x90\x02"), ""},

    // Executables and the text that looks like one.
    {"pe", Executable(), kExe},
    {"dos header cut", Executable().substr(0, 3), kExe},
    {"mz and a byte past UTF-8", B("MZ\xFF"), kExe},
    {"text beginning MZ", "MZ is a band\n", kText},
    {"MZ alone", "MZ", kText},

    // Text.
    {"ascii", "hello, world\r\n\tnext page\f", kText},
    {"utf-8", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xC3\xA9 \xF0\x9F\x98\x80\n", kText},
    {"utf-8 with a bom", "\xEF\xBB\xBF" "abc", kText},
    {"a bom alone", "\xEF\xBB\xBF", kText},
    {"largest code point", "a\xF4\x8F\xBF\xBF", kText},
    {"C1 control as UTF-8", "a\xC2\x85", kText},
    {"two-byte character cut", "abc\xC3", kText},
    {"three-byte character cut after two", "abc\xE6\x97", kText},
    {"four-byte character cut after three", "abc\xF0\x9F\x98", kText},
    {"cut character already overlong", "abc\xE0\x80", ""},
    {"cut character already a surrogate", "abc\xED\xA0", ""},
    {"overlong two bytes", "a\xC0\x80", ""},
    {"overlong C1", "a\xC1\xBF", ""},
    {"overlong three bytes", "a\xE0\x9F\xBF", ""},
    {"overlong four bytes", "a\xF0\x8F\xBF\xBF", ""},
    {"surrogate", "a\xED\xA0\x80", ""},
    {"past U+10FFFF", "a\xF4\x90\x80\x80", ""},
    {"lead byte F5", "a\xF5\x80\x80\x80", ""},
    {"lone continuation byte", "a\x80", ""},
    {"continuation missing inside", "a\xE6\x97x", ""},
    {"shift_jis", "\x93\xFA\x96\x7B\x8C\xEA", ""},
    {"latin-1", "caf\xE9 au lait", ""},
    {"NUL", B("a\0b"), ""},
    {"escape", "a\x1B[0m", ""},
    {"bell", "a\x07", ""},
    {"DEL", "a\x7F", ""},
    {"vertical tab", "a\x0B", ""},
    {"nothing", "", ""},
};

class Type : public ::testing::TestWithParam<TypeCase> {};

TEST_P(Type, Detected) {
    const TypeCase& c = GetParam();
    const Exact file(c.bytes);
    EXPECT_STREQ(filefacts::DetectedType(file.data(), file.size()), c.type);
}

// Cut bytes never name another format than the whole: at most they fall
// short of the whole's (nothing or text yet, a plain ZIP before the entry
// that decides, a lone MPEG frame header before the next).
TEST_P(Type, EveryCut) {
    const TypeCase& c = GetParam();
    for (std::size_t cb = 0; cb < c.bytes.size(); ++cb) {
        const Exact file(c.bytes, cb);
        const char* pszType = filefacts::DetectedType(file.data(), file.size());
        if (std::strcmp(pszType, c.type) == 0 || !*pszType || std::strcmp(pszType, kText) == 0 ||
            std::strcmp(pszType, kZip) == 0 || std::strcmp(pszType, kMp3) == 0)
            continue;
        ADD_FAILURE() << cb << " bytes: " << pszType;
    }
}

std::string TestName(const char* what) {
    std::string name;
    for (const char* p = what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Type, ::testing::ValuesIn(kTypeCases),
                         [](const ::testing::TestParamInfo<TypeCase>& info) { return TestName(info.param.what); });

const char* TypeOfCut(const Bytes& bytes, std::size_t cb) {
    const Exact file(bytes, cb);
    return filefacts::DetectedType(file.data(), file.size());
}

// A ZIP is a plain one until the bytes reach what makes it a document: the
// whole name of the first entry in the main part's folder, the whole of
// "mimetype"'s type.
TEST(TypeOfCutPackage, DecidedAtTheDecidingByte) {
    const Bytes docx = kContentTypes + kRels + ZipEntry("word/document.xml", "d", 8);
    const std::size_t cbDocx = kContentTypes.size() + kRels.size() + 30 + std::strlen("word/document.xml");
    const Bytes odt = ZipEntry("mimetype", kOdt) + ZipEntry("content.xml", "x", 8);
    const std::size_t cbOdt = 30 + std::strlen("mimetype") + std::strlen(kOdt);
    for (std::size_t cb = 4; cb <= docx.size(); ++cb)
        EXPECT_STREQ(TypeOfCut(docx, cb), cb < cbDocx ? kZip : kDocx) << cb;
    for (std::size_t cb = 4; cb <= odt.size(); ++cb) EXPECT_STREQ(TypeOfCut(odt, cb), cb < cbOdt ? kZip : kOdt) << cb;
}

// MPEG audio without a tag is judged by the frame headers given: a header
// whose successor lies past the bytes stands, one whose successor is wrong
// does not.
TEST(TypeOfCutMpeg, SecondHeaderOnceGiven) {
    const Bytes bytes = Frames(kMpeg1Layer3, 417, B("\xFF\xFB\x94\0"));
    for (std::size_t cb = 4; cb <= bytes.size(); ++cb) EXPECT_STREQ(TypeOfCut(bytes, cb), cb < 421 ? kMp3 : "") << cb;
}

// Text cut anywhere, inside a character too, is still text.
TEST(TypeOfCutText, EveryCutOfUtf8) {
    const Bytes text = "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9\xF0\x9F\x98\x80\r\n";
    for (std::size_t cb = 1; cb <= text.size(); ++cb) EXPECT_STREQ(TypeOfCut(text, cb), kText) << cb;
}

// What the caller reads, kcbFactsHead bytes, is enough for the text check of
// a long file: it is judged on those bytes, a character cut by their end
// aside.
TEST(TypeOfCutText, HeadOfLongText) {
    Bytes text;
    while (text.size() < 2 * filefacts::kcbFactsHead) text += "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n";
    EXPECT_STREQ(TypeOfCut(text, filefacts::kcbFactsHead), kText);
    EXPECT_STREQ(TypeOfCut(text + '\0', text.size() + 1), "");
}

TEST(TypeNull, NoBytes) { EXPECT_STREQ(filefacts::DetectedType(nullptr, 10), ""); }

}  // namespace

// ImageSize against headers built from each format's fields: sound ones,
// damaged ones, and every cut of each, so that a header read past its
// given bytes fails under ASan and one accepted before its last needed
// field shows here.
#include "filefacts/file_facts.h"

#include <gtest/gtest.h>

#include "tests/common/fact_bytes.h"

#include <cctype>
#include <cstdint>
#include <ostream>
#include <string>

namespace {

using namespace facts_test;

constexpr std::size_t kWhole = Bytes::npos;

struct ImageCase {
    const char* what;
    Bytes bytes;
    const char* type;
    std::uint32_t nWidth, nHeight;  // 0, 0: no size
    std::size_t cbNeeded = kWhole;  // the header's extent: fewer bytes give no size
};

void PrintTo(const ImageCase& c, std::ostream* pOut) { *pOut << c.what; }

const char kPng[] = "image/png", kJpeg[] = "image/jpeg", kGif[] = "image/gif", kBmp[] = "image/bmp",
           kWebP[] = "image/webp";

Bytes Replaced(Bytes bytes, std::size_t l, char ch) {
    bytes[l] = ch;
    return bytes;
}

Bytes WebPWithSizes(std::uint32_t cbRiff, std::uint32_t cbChunk) {
    return "RIFF" + Le32(cbRiff) + "WEBP" + "VP8L" + Le32(cbChunk) + Vp8lFields(2, 2);
}

const ImageCase kImageCases[] = {
    // PNG: the signature, then IHDR first: length 13, fields, CRC.
    {"png rgba 1x1", Png(1, 1), kPng, 1, 1},
    {"png palette 4 bits interlaced", Png(640, 480, 4, 3, 1), kPng, 640, 480},
    {"png grey 16 bits largest side", Png(0x7FFFFFFF, 1, 16, 0), kPng, 0x7FFFFFFF, 1},
    {"png followed by more chunks", Png(3, 2) + PngChunk("IDAT", "x"), kPng, 3, 2, 33},
    {"png side of 2^31", Png(0x80000000, 1), kPng, 0, 0},
    {"png zero width", Png(0, 5), kPng, 0, 0},
    {"png zero height", Png(5, 0), kPng, 0, 0},
    {"png another chunk before IHDR", kPngSignature + PngChunk("tEXt", B("a\0b")) + PngChunk("IHDR", IhdrFields(1, 1)),
     kPng, 0, 0},
    {"png IHDR of 12 bytes", kPngSignature + PngChunk("IHDR", IhdrFields(1, 1).substr(0, 12)) + "xxxx", kPng, 0, 0},
    {"png IHDR of 14 bytes", kPngSignature + PngChunk("IHDR", IhdrFields(1, 1) + '\0'), kPng, 0, 0},
    {"png CRC wrong", Replaced(Png(1, 1), 32, '\0'), kPng, 0, 0},
    {"png width changed under its CRC", Replaced(Png(1, 1), 19, '\x02'), kPng, 0, 0},
    {"png 16-bit palette", Png(1, 1, 16, 3), kPng, 0, 0},
    {"png 4-bit rgb", Png(1, 1, 4, 2), kPng, 0, 0},
    {"png colour type 5", Png(1, 1, 8, 5), kPng, 0, 0},
    {"png interlace 2", Png(1, 1, 8, 6, 2), kPng, 0, 0},
    {"png compression 1", kPngSignature + PngChunk("IHDR", Replaced(IhdrFields(1, 1), 10, 1)), kPng, 0, 0},
    {"png signature damaged", Replaced(Png(1, 1), 7, '\r'), "", 0, 0},

    // JPEG: SOI, segments skipped by their lengths, the first frame header.
    {"jpeg APP0 APP1 SOF2", kSoi + kApp0 + App1() + Sof(0xC2, 640, 480), kJpeg, 640, 480},
    {"jpeg fill bytes before markers", kSoi + B("\xFF\xFF\xFF") + kApp0 + B("\xFF") + Sof(0xC0, 3, 2), kJpeg, 3, 2},
    {"jpeg empty comment", kSoi + Segment(0xFE, "") + Sof(0xC0, 5, 6), kJpeg, 5, 6},
    {"jpeg RST and TEM carry no length", kSoi + B("\xFF\xD0\xFF\x01\xFF\xD7") + Sof(0xC0, 5, 6), kJpeg, 5, 6},
    {"jpeg DHP gives the whole image", kSoi + Segment(0xDE, FrameFields(800, 600)) + Sof(0xC0, 400, 300), kJpeg,
     800, 600, 21},
    {"jpeg 12-bit extended", kSoi + Sof(0xC1, 9, 7, 12), kJpeg, 9, 7},
    {"jpeg 16-bit lossless", kSoi + Sof(0xC3, 9, 7, 16), kJpeg, 9, 7},
    {"jpeg largest sides", kSoi + Sof(0xC0, 65535, 65535), kJpeg, 65535, 65535},
    {"jpeg frame then scan", kSoi + Sof(0xC0, 2, 2) + Segment(0xDA, B("\x01\x01\0\0\x3F\0")) + "\x12\x34",
     kJpeg, 2, 2, 21},
    {"jpeg only fill bytes", kSoi + Bytes(100, '\xFF'), kJpeg, 0, 0},
    {"jpeg zero-length segment", kSoi + B("\xFF\xE0\0\0") + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg segment length 1", kSoi + B("\xFF\xE0\0\x01") + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg segment longer than the bytes", kSoi + B("\xFF\xE1\xFF\xFF") + "Exif" + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg length cut after its first byte", kSoi + B("\xFF\xE1\x01"), kJpeg, 0, 0},
    {"jpeg scan before any frame", kSoi + Segment(0xDA, B("\x01\x01\0\0\x3F\0")) + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg EOI before any frame", kSoi + B("\xFF\xD9") + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg second SOI", kSoi + kSoi + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg stuffed zero for a marker", kSoi + B("\xFF\0") + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg a stray byte between segments", kSoi + kApp0 + "\x01" + Sof(0xC0, 5, 6), kJpeg, 0, 0},
    {"jpeg lines left to DNL", kSoi + Sof(0xC0, 10, 0), kJpeg, 0, 0},
    {"jpeg zero samples per line", kSoi + Sof(0xC0, 0, 10), kJpeg, 0, 0},
    {"jpeg frame length one too long", kSoi + Segment(0xC0, FrameFields(10, 10) + '\0'), kJpeg, 0, 0},
    {"jpeg no components", kSoi + Segment(0xC0, FrameFields(10, 10, 8, 0)), kJpeg, 0, 0},
    {"jpeg 16 bits in a DCT frame", kSoi + Sof(0xC2, 10, 10, 16), kJpeg, 0, 0},
    {"jpeg 1 bit lossless", kSoi + Sof(0xC3, 10, 10, 1), kJpeg, 0, 0},
    {"jpeg sampling factor 0", kSoi + Segment(0xC0, Replaced(FrameFields(10, 10), 7, '\x10')), kJpeg, 0, 0},
    {"jpeg sampling factor 5", kSoi + Segment(0xC0, Replaced(FrameFields(10, 10), 10, '\x15')), kJpeg, 0, 0},
    {"jpeg SOI alone", kSoi, "", 0, 0},

    // GIF: the version, then the logical screen's width and height.
    {"gif89a", Gif(320, 200), kGif, 320, 200},
    {"gif87a", Gif(1, 65535, "87a") + "\xF7\0\0", kGif, 1, 65535, 10},
    {"gif zero width", Gif(0, 1), kGif, 0, 0},
    {"gif unknown version", Gif(1, 1, "88a"), "", 0, 0},

    // BMP: the file header, then the DIB header its size names.
    {"bmp info header", Bmp(40, 4, 3), kBmp, 4, 3, 30},
    {"bmp info header top-down", Bmp(40, 4, -3), kBmp, 4, 3, 30},
    {"bmp core header", Bmp(12, 7, 5), kBmp, 7, 5},
    {"bmp os2 2.x header", Bmp(64, 7, 5, 1, 1), kBmp, 7, 5, 30},
    {"bmp v4 header", Bmp(108, 2, 2, 1, 16), kBmp, 2, 2, 30},
    {"bmp v5 header top-down", Bmp(124, 1920, -1080, 1, 32), kBmp, 1920, 1080, 30},
    {"bmp v5 header holding a png", Bmp(124, 16, 16, 1, 0), kBmp, 16, 16, 30},
    {"bmp widest", Bmp(40, 0x7FFFFFFF, -0x7FFFFFFF), kBmp, 0x7FFFFFFF, 0x7FFFFFFF, 30},
    {"bmp height of -2^31", Bmp(40, 4, INT32_MIN), kBmp, 0, 0},
    {"bmp negative width", Bmp(40, -4, 3), kBmp, 0, 0},
    {"bmp zero height", Bmp(40, 4, 0), kBmp, 0, 0},
    {"bmp core zero width", Bmp(12, 0, 3), kBmp, 0, 0},
    {"bmp two planes", Bmp(40, 4, 3, 2), kBmp, 0, 0},
    {"bmp 12 bits", Bmp(40, 4, 3, 1, 12), kBmp, 0, 0},
    {"bmp core 32 bits", Bmp(12, 4, 3, 1, 32), kBmp, 0, 0},
    {"bmp unknown header size", Bmp(20, 4, 3), "", 0, 0},

    // WebP: RIFF, WEBP, the first chunk: VP8, VP8L or VP8X.
    {"webp lossy", Riff("WEBP", Chunk("VP8 ", Vp8Fields(550, 368))), kWebP, 550, 368},
    {"webp lossy, scaling bits apart", Riff("WEBP", Chunk("VP8 ", Vp8Fields(16383, 1, 0x10, 3))), kWebP, 16383, 1},
    {"webp lossy, frame data after", Riff("WEBP", Chunk("VP8 ", Vp8Fields(4, 4, 0x10 | 3 << 5) + "abc")), kWebP,
     4, 4, 30},
    {"webp lossy interframe", Riff("WEBP", Chunk("VP8 ", Vp8Fields(4, 4, 0x11))), kWebP, 0, 0},
    {"webp lossy version 4", Riff("WEBP", Chunk("VP8 ", Vp8Fields(4, 4, 0x18))), kWebP, 0, 0},
    {"webp lossy first partition past the chunk", Riff("WEBP", Chunk("VP8 ", Vp8Fields(4, 4, 0x10 | 1 << 5))),
     kWebP, 0, 0},
    {"webp lossy start code wrong", Riff("WEBP", Chunk("VP8 ", Replaced(Vp8Fields(4, 4), 5, '\x2B'))), kWebP, 0, 0},
    {"webp lossy zero width", Riff("WEBP", Chunk("VP8 ", Vp8Fields(0, 4, 0x10, 1))), kWebP, 0, 0},
    {"webp lossless", Riff("WEBP", Chunk("VP8L", Vp8lFields(16384, 1))), kWebP, 16384, 1},
    {"webp lossless 1x16384", Riff("WEBP", Chunk("VP8L", Vp8lFields(1, 16384))), kWebP, 1, 16384},
    {"webp lossless version 1", Riff("WEBP", Chunk("VP8L", Vp8lFields(2, 2, 1))), kWebP, 0, 0},
    {"webp lossless signature wrong", Riff("WEBP", Chunk("VP8L", Replaced(Vp8lFields(2, 2), 0, '\x2E'))), kWebP, 0,
     0},
    {"webp extended", Riff("WEBP", Chunk("VP8X", Vp8xFields(16777216, 255))), kWebP, 16777216, 255},
    {"webp extended canvas of 2^32 pixels", Riff("WEBP", Chunk("VP8X", Vp8xFields(16777216, 256))), kWebP, 0, 0},
    {"webp chunk larger than the RIFF", WebPWithSizes(4 + 8 + 4, 5), kWebP, 0, 0},
    {"webp RIFF too small for a chunk", WebPWithSizes(11, 0), kWebP, 0, 0},
    {"webp RIFF size exactly the chunk", WebPWithSizes(4 + 8 + 5, 5), kWebP, 2, 2},
    {"webp other first chunk", Riff("WEBP", Chunk("ALPH", Bytes(10, '\0'))), kWebP, 0, 0},
    {"webp chunk too short for its fields", Riff("WEBP", Chunk("VP8X", Vp8xFields(2, 2).substr(0, 9)) + "x"),
     kWebP, 0, 0},

    // Not images.
    {"pdf", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n", "application/pdf", 0, 0},
    {"wave", Riff("WAVE", Chunk("fmt ", Bytes(16, '\0'))), "audio/wav", 0, 0},
    {"nothing", "", "", 0, 0},
};

class Image : public ::testing::TestWithParam<ImageCase> {};

TEST_P(Image, TypeAndSize) {
    const ImageCase& c = GetParam();
    const Exact file(c.bytes);
    EXPECT_STREQ(filefacts::DetectedType(file.data(), file.size()), c.type);
    std::uint32_t nWidth = 7, nHeight = 7;
    EXPECT_EQ(filefacts::ImageSize(file.data(), file.size(), &nWidth, &nHeight), c.nWidth != 0);
    EXPECT_EQ(nWidth, c.nWidth);
    EXPECT_EQ(nHeight, c.nHeight);
}

// A size only once the header's last needed byte is given, and then the
// same size; a damaged header gives none at any cut.
TEST_P(Image, EveryCut) {
    const ImageCase& c = GetParam();
    const std::size_t cbNeeded = c.cbNeeded == kWhole ? c.bytes.size() : c.cbNeeded;
    for (std::size_t cb = 0; cb <= c.bytes.size(); ++cb) {
        const Exact file(c.bytes, cb);
        const bool bSize = c.nWidth != 0 && cb >= cbNeeded;
        std::uint32_t nWidth = 7, nHeight = 7;
        EXPECT_EQ(filefacts::ImageSize(file.data(), file.size(), &nWidth, &nHeight), bSize) << cb << " bytes";
        EXPECT_EQ(nWidth, bSize ? c.nWidth : 0) << cb << " bytes";
        EXPECT_EQ(nHeight, bSize ? c.nHeight : 0) << cb << " bytes";
    }
}

std::string TestName(const char* what) {
    std::string name;
    for (const char* p = what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Headers, Image, ::testing::ValuesIn(kImageCases),
                         [](const ::testing::TestParamInfo<ImageCase>& info) { return TestName(info.param.what); });

// Every marker of the C0-CF range: the frame headers give their size; DHT,
// JPG and DAC are segments to skip, even when their bytes read as a frame.
TEST(ImageSizeJpeg, EveryFrameMarker) {
    for (unsigned marker = 0xC0; marker <= 0xCF; ++marker) {
        const bool bFrame = marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        const Exact file(kSoi + Segment(marker, FrameFields(100, 50)) + Sof(0xC0, 7, 9));
        std::uint32_t nWidth = 0, nHeight = 0;
        EXPECT_TRUE(filefacts::ImageSize(file.data(), file.size(), &nWidth, &nHeight)) << std::hex << marker;
        EXPECT_EQ(nWidth, bFrame ? 100u : 7u) << std::hex << marker;
        EXPECT_EQ(nHeight, bFrame ? 50u : 9u) << std::hex << marker;
    }
}

// The head a caller reads holds a frame after a full-size Exif segment; one
// behind two full-size segments lies past it and gives no size.
TEST(ImageSizeJpeg, FrameWithinTheHead) {
    const Bytes exif = App1(65533 - 14);
    ASSERT_EQ(exif.size(), 2u + 65535u);
    const Bytes one = kSoi + exif + Sof(0xC1, 4000, 3000);
    const Bytes two = kSoi + exif + exif + Sof(0xC1, 4000, 3000);
    for (const Bytes* pBytes : {&one, &two}) {
        const Exact whole(*pBytes), head(*pBytes, filefacts::kcbFactsHead);
        std::uint32_t nWidth = 0, nHeight = 0;
        EXPECT_TRUE(filefacts::ImageSize(whole.data(), whole.size(), &nWidth, &nHeight));
        EXPECT_EQ(nWidth, 4000u);
        EXPECT_EQ(nHeight, 3000u);
        EXPECT_EQ(filefacts::ImageSize(head.data(), head.size(), &nWidth, &nHeight), pBytes == &one);
        EXPECT_EQ(nWidth, pBytes == &one ? 4000u : 0u);
    }
}

TEST(ImageSizeNull, NoBytes) {
    std::uint32_t nWidth = 1, nHeight = 1;
    EXPECT_FALSE(filefacts::ImageSize(nullptr, 40, &nWidth, &nHeight));
    EXPECT_EQ(nWidth, 0u);
    EXPECT_EQ(nHeight, 0u);
}

TEST(FactBytes, CrcCheckValue) { EXPECT_EQ(Crc32("123456789"), 0xCBF43926u); }

}  // namespace

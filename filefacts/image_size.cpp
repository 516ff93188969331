// Image sizes from the headers' documented fields: PNG's IHDR, JPEG's frame
// header (ITU T.81), GIF's logical screen, BMP's DIB header and the WebP
// container's first chunk. A field that reads as impossible makes the
// header damaged; a size of 0 is never reported.
#include "filefacts/file_facts.h"
#include "filefacts/header_bytes.h"
#include "platform/crc32.h"

namespace filefacts {

namespace {

constexpr std::uint32_t kPngMaxSide = 0x7FFFFFFF;

bool PngSize(const HeaderBytes& h, std::uint32_t* pnWidth, std::uint32_t* pnHeight) {
    // Signature, then IHDR: length, type, 13 bytes of fields, CRC.
    if (!h.Has(0, 33) || h.U32BE(8) != 13 || !h.Is(12, "IHDR")) return false;
    const std::uint32_t nWidth = h.U32BE(16), nHeight = h.U32BE(20);
    if (nWidth == 0 || nHeight == 0 || nWidth > kPngMaxSide || nHeight > kPngMaxSide) return false;
    const unsigned depth = h.pb[24], color = h.pb[25];
    bool bDepthFits;
    switch (color) {
    case 0: bDepthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16; break;
    case 3: bDepthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8; break;
    case 2:
    case 4:
    case 6: bDepthFits = depth == 8 || depth == 16; break;
    default: bDepthFits = false;
    }
    if (!bDepthFits || h.pb[26] != 0 || h.pb[27] != 0 || h.pb[28] > 1) return false;
    if (Crc32(h.pb + 12, 17) != h.U32BE(29)) return false;
    *pnWidth = nWidth;
    *pnHeight = nHeight;
    return true;
}

// SOF0-3, 5-7, 9-11, 13-15; C4 (DHT), C8 (JPG) and CC (DAC) share the range.
bool IsFrameMarker(unsigned m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

constexpr unsigned kDhp = 0xDE;  // hierarchical: the whole image's size, before any frame

// A frame header (or DHP) whose length field, at l, is known to lie inside.
bool FrameSize(const HeaderBytes& h, std::size_t l, unsigned marker, std::uint32_t* pnWidth,
               std::uint32_t* pnHeight) {
    const std::uint32_t cbSegment = h.U16BE(l);
    if (cbSegment < 8) return false;
    const unsigned precision = h.pb[l + 2], nComponents = h.pb[l + 7];
    const std::uint32_t nLines = h.U16BE(l + 3), nSamples = h.U16BE(l + 5);
    const bool bLossless = marker == kDhp || (marker & 3) == 3;
    if (bLossless ? precision < 2 || precision > 16 : precision != 8 && precision != 12) return false;
    if (nComponents == 0 || cbSegment != 8 + 3 * nComponents) return false;
    for (unsigned i = 0; i < nComponents; ++i) {
        const unsigned sampling = h.pb[l + 8 + 3 * i + 1];
        if (sampling >> 4 < 1 || sampling >> 4 > 4 || (sampling & 15) < 1 || (sampling & 15) > 4) return false;
    }
    // 0 lines: a DNL marker after the first scan says how many.
    if (nLines == 0 || nSamples == 0) return false;
    *pnWidth = nSamples;
    *pnHeight = nLines;
    return true;
}

bool JpegSize(const HeaderBytes& h, std::uint32_t* pnWidth, std::uint32_t* pnHeight) {
    std::size_t l = 2;  // after SOI
    // Every turn takes at least the marker's two bytes.
    for (;;) {
        if (!h.Has(l, 1) || h.pb[l] != 0xFF) return false;
        while (h.Has(l, 1) && h.pb[l] == 0xFF) ++l;  // fill bytes
        if (!h.Has(l, 1)) return false;
        const unsigned marker = h.pb[l++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // TEM, RSTn: no length
        // A stuffed zero, a second SOI, EOI or a scan before any frame.
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return false;
        if (!h.Has(l, 2)) return false;
        const std::size_t cbSegment = h.U16BE(l);
        if (cbSegment < 2 || !h.Has(l, cbSegment)) return false;
        if (IsFrameMarker(marker) || marker == kDhp) return FrameSize(h, l, marker, pnWidth, pnHeight);
        l += cbSegment;
    }
}

bool GifSize(const HeaderBytes& h, std::uint32_t* pnWidth, std::uint32_t* pnHeight) {
    if (!h.Has(6, 4)) return false;
    const std::uint32_t nWidth = h.U16LE(6), nHeight = h.U16LE(8);
    if (nWidth == 0 || nHeight == 0) return false;
    *pnWidth = nWidth;
    *pnHeight = nHeight;
    return true;
}

constexpr std::size_t kcbBmpFileHeader = 14;
constexpr std::uint32_t kcbBmpCoreHeader = 12;

bool BmpSize(const HeaderBytes& h, std::uint32_t* pnWidth, std::uint32_t* pnHeight) {
    const std::size_t l = kcbBmpFileHeader;
    std::uint32_t nWidth, nHeight, planes, bits;
    if (h.U32LE(l) == kcbBmpCoreHeader) {
        if (!h.Has(l, 12)) return false;
        nWidth = h.U16LE(l + 4);
        nHeight = h.U16LE(l + 6);
        planes = h.U16LE(l + 8);
        bits = h.U16LE(l + 10);
        if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
    } else {
        if (!h.Has(l, 16)) return false;
        const std::uint32_t width = h.U32LE(l + 4), height = h.U32LE(l + 8);
        // Two's complement fields; a negative height is a top-down image.
        if (width == 0 || width >= 0x80000000 || height == 0 || height == 0x80000000) return false;
        nWidth = width;
        nHeight = height < 0x80000000 ? height : 0 - height;
        planes = h.U16LE(l + 12);
        bits = h.U16LE(l + 14);
        // 0: the pixels are a JPEG or PNG; 2: Windows CE.
        if (bits != 0 && bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return false;
    }
    if (planes != 1 || nWidth == 0 || nHeight == 0) return false;
    *pnWidth = nWidth;
    *pnHeight = nHeight;
    return true;
}

bool WebPSize(const HeaderBytes& h, std::uint32_t* pnWidth, std::uint32_t* pnHeight) {
    // RIFF size, "WEBP", then the first chunk's type and size.
    if (!h.Has(12, 8)) return false;
    const std::uint32_t cbRiff = h.U32LE(4), cbChunk = h.U32LE(16);
    if (cbRiff < 12 || cbChunk > cbRiff - 12) return false;
    const std::size_t l = 20;
    std::uint64_t nWidth, nHeight;
    if (h.Is(12, "VP8 ")) {
        // Frame tag (key frame when bit 0 is clear), start code, 14-bit sides.
        if (cbChunk < 10 || !h.Has(l, 10)) return false;
        const std::uint32_t tag = h.U24LE(l);
        if ((tag & 1) != 0 || (tag >> 1 & 7) > 3 || (tag >> 5) > cbChunk - 10) return false;
        if (!h.Is(l + 3, "\x9D\x01\x2A")) return false;
        nWidth = h.U16LE(l + 6) & 0x3FFF;
        nHeight = h.U16LE(l + 8) & 0x3FFF;
    } else if (h.Is(12, "VP8L")) {
        // Signature 0x2F, then width - 1 and height - 1 in 14 bits each,
        // the alpha hint and a 3-bit version that must be 0.
        if (cbChunk < 5 || !h.Has(l, 5) || h.pb[l] != 0x2F) return false;
        const std::uint32_t bits = h.U32LE(l + 1);
        if (bits >> 29 != 0) return false;
        nWidth = (bits & 0x3FFF) + 1;
        nHeight = (bits >> 14 & 0x3FFF) + 1;
    } else if (h.Is(12, "VP8X")) {
        // Flags, 3 reserved bytes, canvas width - 1 and height - 1 in 24 bits.
        if (cbChunk < 10 || !h.Has(l, 10)) return false;
        nWidth = h.U24LE(l + 4) + std::uint64_t(1);
        nHeight = h.U24LE(l + 7) + std::uint64_t(1);
        if (nWidth * nHeight > 0xFFFFFFFF) return false;
    } else {
        return false;
    }
    if (nWidth == 0 || nHeight == 0) return false;
    *pnWidth = static_cast<std::uint32_t>(nWidth);
    *pnHeight = static_cast<std::uint32_t>(nHeight);
    return true;
}

}  // namespace

bool IsPng(const HeaderBytes& h) { return h.Is(0, "\x89PNG\r\n\x1A\n"); }
bool IsJpeg(const HeaderBytes& h) { return h.Is(0, "\xFF\xD8\xFF"); }
bool IsGif(const HeaderBytes& h) { return h.Is(0, "GIF87a") || h.Is(0, "GIF89a"); }
bool IsWebP(const HeaderBytes& h) { return h.Is(0, "RIFF") && h.Is(8, "WEBP"); }

bool IsBmp(const HeaderBytes& h) {
    if (!h.Is(0, "BM") || !h.Has(kcbBmpFileHeader, 4)) return false;
    // The DIB header's own size names its kind: core, OS/2 2.x short and
    // long, info, the two Adobe extensions, v4, v5.
    switch (h.U32LE(kcbBmpFileHeader)) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124: return true;
    default: return false;
    }
}

bool ImageSize(const unsigned char* pb, std::size_t cb, std::uint32_t* pnWidth, std::uint32_t* pnHeight) {
    *pnWidth = 0;
    *pnHeight = 0;
    const HeaderBytes h{pb, pb ? cb : 0};
    std::uint32_t nWidth = 0, nHeight = 0;
    bool bFound = false;
    if (IsPng(h)) bFound = PngSize(h, &nWidth, &nHeight);
    else if (IsJpeg(h)) bFound = JpegSize(h, &nWidth, &nHeight);
    else if (IsGif(h)) bFound = GifSize(h, &nWidth, &nHeight);
    else if (IsBmp(h)) bFound = BmpSize(h, &nWidth, &nHeight);
    else if (IsWebP(h)) bFound = WebPSize(h, &nWidth, &nHeight);
    if (!bFound) return false;
    *pnWidth = nWidth;
    *pnHeight = nHeight;
    return true;
}

}  // namespace filefacts

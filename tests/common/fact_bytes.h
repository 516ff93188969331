// Small files built from the formats' documented fields, for the file facts
// tests: each a few dozen bytes, made here so that a case shows the field
// it turns on.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace facts_test {

using Bytes = std::string;

inline Bytes Le16(std::uint32_t n) { return {char(n & 0xFF), char(n >> 8 & 0xFF)}; }
inline Bytes Le24(std::uint32_t n) { return Le16(n) + char(n >> 16 & 0xFF); }
inline Bytes Le32(std::uint32_t n) { return Le16(n) + Le16(n >> 16); }
inline Bytes Be16(std::uint32_t n) { return {char(n >> 8 & 0xFF), char(n & 0xFF)}; }
inline Bytes Be32(std::uint32_t n) { return Be16(n >> 16) + Be16(n); }
// Literal bytes, NULs included.
template <std::size_t N>
Bytes B(const char (&sz)[N]) {
    return Bytes(sz, N - 1);
}

// The file's bytes in a block of exactly their size, so that a read past
// the end is a heap overflow under ASan.
struct Exact {
    explicit Exact(const Bytes& bytes, std::size_t cb = Bytes::npos)
        : v(bytes.begin(), bytes.begin() + (cb < bytes.size() ? cb : bytes.size())) {}
    const unsigned char* data() const { return v.empty() ? nullptr : v.data(); }
    std::size_t size() const { return v.size(); }
    std::vector<unsigned char> v;
};

// CRC-32 as PNG's chunks carry it, by table (the check value of "123456789"
// is 0xCBF43926).
inline std::uint32_t Crc32(const Bytes& bytes) {
    static const std::array<std::uint32_t, 256> kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    std::uint32_t crc = 0xFFFFFFFF;
    for (unsigned char ch : bytes) crc = kTable[(crc ^ ch) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFF;
}

inline const Bytes kPngSignature = B("\x89PNG\r\n\x1A\n");
inline Bytes PngChunk(const Bytes& type, const Bytes& data) {
    return Be32(std::uint32_t(data.size())) + type + data + Be32(Crc32(type + data));
}
inline Bytes IhdrFields(std::uint32_t w, std::uint32_t h, int depth = 8, int color = 6, int interlace = 0) {
    return Be32(w) + Be32(h) + char(depth) + char(color) + '\0' + '\0' + char(interlace);
}
inline Bytes Png(std::uint32_t w, std::uint32_t h, int depth = 8, int color = 6, int interlace = 0) {
    return kPngSignature + PngChunk("IHDR", IhdrFields(w, h, depth, color, interlace));
}

// JPEG: a segment is FF, its marker, a length that counts itself, the rest.
inline Bytes Segment(unsigned marker, const Bytes& payload) {
    return Bytes{'\xFF', char(marker)} + Be16(std::uint32_t(payload.size() + 2)) + payload;
}
inline const Bytes kSoi = B("\xFF\xD8");
inline const Bytes kApp0 = Segment(0xE0, B("JFIF\0\x01\x02\0\0\x01\0\x01\0\0"));
// An Exif APP1 holding a little-endian TIFF header and cbPad bytes of tags.
inline Bytes App1(std::size_t cbPad = 16) { return Segment(0xE1, B("Exif\0\0II*\0\x08\0\0\0") + Bytes(cbPad, '\0')); }
// Frame header fields: precision, lines, samples per line, components
// (each id, sampling 1x1, table 0).
inline Bytes FrameFields(std::uint32_t w, std::uint32_t h, int precision = 8, int nComponents = 3) {
    Bytes fields = char(precision) + Be16(h) + Be16(w) + char(nComponents);
    for (int i = 1; i <= nComponents; ++i) fields += Bytes{char(i), '\x11', '\0'};
    return fields;
}
inline Bytes Sof(unsigned marker, std::uint32_t w, std::uint32_t h, int precision = 8) {
    return Segment(marker, FrameFields(w, h, precision));
}

inline Bytes Gif(std::uint32_t w, std::uint32_t h, const char* pszVersion = "89a") {
    return "GIF" + Bytes(pszVersion) + Le16(w) + Le16(h);
}

// File header (14 bytes), then a DIB header of cbDib bytes: its size, then
// width, height, planes and bits in the core header's 16-bit fields or the
// later headers' 32-bit ones, then zeros.
inline Bytes Bmp(std::uint32_t cbDib, std::int32_t w, std::int32_t h, int planes = 1, int bits = 24) {
    Bytes dib = Le32(cbDib);
    if (cbDib == 12) dib += Le16(std::uint32_t(w)) + Le16(std::uint32_t(h));
    else dib += Le32(std::uint32_t(w)) + Le32(std::uint32_t(h));
    dib += Le16(std::uint32_t(planes)) + Le16(std::uint32_t(bits));
    if (dib.size() < cbDib) dib += Bytes(cbDib - dib.size(), '\0');
    return "BM" + Le32(std::uint32_t(14 + dib.size())) + Le32(0) + Le32(std::uint32_t(14 + dib.size())) + dib;
}

// RIFF: size (the form type and the chunks), form type, chunks.
inline Bytes Riff(const Bytes& form, const Bytes& chunks) {
    return "RIFF" + Le32(std::uint32_t(4 + chunks.size())) + form + chunks;
}
inline Bytes Chunk(const Bytes& type, const Bytes& data) {
    return type + Le32(std::uint32_t(data.size())) + data;
}
// VP8 key frame: tag (key frame, version 0, shown, first partition size),
// start code, 14-bit width and height with 2 scaling bits above each.
inline Bytes Vp8Fields(std::uint32_t w, std::uint32_t h, std::uint32_t tag = 0x10 | 0 << 5, int scale = 0) {
    return Le24(tag) + B("\x9D\x01\x2A") + Le16(w | scale << 14) + Le16(h | scale << 14);
}
// VP8L: signature, then width - 1, height - 1 (14 bits each), alpha, version.
inline Bytes Vp8lFields(std::uint32_t w, std::uint32_t h, std::uint32_t version = 0) {
    return '\x2F' + Le32((w - 1) | (h - 1) << 14 | 1u << 28 | version << 29);
}
// VP8X: flags, 3 reserved bytes, canvas width - 1 and height - 1 (24 bits).
inline Bytes Vp8xFields(std::uint32_t w, std::uint32_t h) {
    return B("\x10\0\0\0") + Le24(w - 1) + Le24(h - 1);
}

// A ZIP local file header with the sizes given, its name and extra field.
inline Bytes ZipHeader(const Bytes& name, int flags, int method, std::uint32_t cbPacked, std::uint32_t cbPlain,
                       const Bytes& extra = "") {
    return "PK" + B("\x03\x04") + Le16(20) + Le16(std::uint32_t(flags)) + Le16(std::uint32_t(method)) +
           Le32(0) /* time, date */ + Le32(0) /* CRC */ + Le32(cbPacked) + Le32(cbPlain) +
           Le16(std::uint32_t(name.size())) + Le16(std::uint32_t(extra.size())) + name + extra;
}
// A whole entry: header and (already packed) data; with flag 8 the sizes
// are 0 in the header and follow the data in a descriptor.
inline Bytes ZipEntry(const Bytes& name, const Bytes& data, int method = 0, int flags = 0) {
    const std::uint32_t cb = std::uint32_t(data.size());
    if (flags & 8)
        return ZipHeader(name, flags, method, 0, 0) + data + "PK" + B("\x07\x08") + Le32(0) + Le32(cb) + Le32(cb);
    return ZipHeader(name, flags, method, cb, cb) + data;
}

}  // namespace facts_test

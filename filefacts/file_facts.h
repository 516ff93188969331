// What an uploaded file really is, told by its own first bytes rather than by
// the name or the Content-Type its client sent: its media type and, for an
// image, its size in pixels. Pure reading of a caller's bytes: nothing is
// allocated, nothing past pb[cb - 1] is read.
#pragma once
#include <cstddef>
#include <cstdint>

namespace filefacts {

// How much of a file's beginning both questions need at most: read this much
// once (the whole file when it is shorter) and ask both of the same bytes.
// It leaves room for a JPEG's frame header behind a full-size Exif segment
// (64 KB) and most of another APPn segment (XMP, a piece of an ICC profile);
// a frame header further in gives no size. A type is decided within the
// first kcbTypeSignatures bytes, except a ZIP's kind (its entries' names),
// MPEG audio without a tag (its second frame header) and text, which are
// judged on as many bytes as are given.
constexpr std::size_t kcbFactsHead = 128 * 1024;
constexpr std::size_t kcbTypeSignatures = 64;

// The media type of a file beginning with pb[0] .. pb[cb - 1], as a constant
// string, or "" when the bytes are none of these (or cb is 0):
//   image/png, image/jpeg, image/gif, image/bmp, image/webp, image/tiff,
//   image/vnd.microsoft.icon, application/pdf, application/gzip,
//   application/x-7z-compressed, application/vnd.rar, audio/mpeg, audio/wav,
//   video/mp4, video/quicktime, application/x-msdownload, text/plain,
//   application/zip, or for a ZIP that is an office document
//   application/vnd.openxmlformats-officedocument.{wordprocessingml.document,
//   spreadsheetml.sheet, presentationml.presentation} and
//   application/vnd.oasis.opendocument.{text, spreadsheet, presentation,
//   graphics (each also as -template), text-master, chart, formula}.
// Text is UTF-8 (ASCII included, a BOM allowed) without control bytes other
// than tab, LF, FF and CR; a character cut by the end of the bytes given
// does not count against it. A file that begins with "MZ" is an executable
// unless its bytes given are text.
const char* DetectedType(const unsigned char* pb, std::size_t cb);

// True with the size in pixels of a PNG, JPEG, GIF, BMP or WebP image
// whose header lies in pb[0] .. pb[cb - 1] and reads soundly; false with
// 0 and 0 otherwise (another format, a damaged header, a header cut short,
// a JPEG whose height its first scan would set). A size found here comes
// with an image/ type from DetectedType on the same bytes.
bool ImageSize(const unsigned char* pb, std::size_t cb, std::uint32_t* pnWidth, std::uint32_t* pnHeight);

}  // namespace filefacts

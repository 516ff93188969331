// Base64 as the resumable headers carry it (RFC 4648, section 4): metadata
// values and checksum digests.
#pragma once
#include <cstddef>

namespace resumable {

// The most bytes cb characters of base64 decode to.
constexpr std::size_t Base64DecodedMax(std::size_t cb) { return cb / 4 * 3; }

// Decodes pb[0] .. pb[cb - 1] strictly: whole groups of four characters of
// the standard alphabet, '=' only as the last one or two characters, and
// the bits that padding leaves over zero, so that every byte string has one
// spelling only. Unpadded text is refused: a browser's btoa pads, and so do
// the upload protocol's examples; a second spelling of a value would let
// headers that differ name the same metadata. No blanks or line breaks.
// True with the bytes in pbOut (room for Base64DecodedMax(cb)) and their
// count in *pcbOut; the empty text decodes to no bytes. False with *pcbOut
// 0 otherwise.
bool DecodeBase64(const unsigned char* pb, std::size_t cb, unsigned char* pbOut, std::size_t* pcbOut);

}  // namespace resumable

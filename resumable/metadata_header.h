// Upload-Metadata: the pairs a client names an upload with, each "key" or
// "key value", the value base64 (base64.h), the pairs separated by commas.
// The server keeps the header's text as it came (upload_record.h) and
// echoes it on HEAD; pages see the pairs decoded.
#pragma once
#include <cstddef>
#include <cstdint>

namespace resumable {

// The longest header taken (a browser client names a file with a handful
// of pairs, a long Japanese file name twice over fits in a quarter of it),
// and the most pairs.
constexpr std::size_t kcbMaxMetadataHeader = 8192;
constexpr std::uint32_t kMaxMetadataPairs = 64;

// Offsets into UploadMetadata::abText.
struct MetadataPair {
    std::uint32_t lKey, cbKey;
    std::uint32_t lValue, cbValue;  // the decoded value; 0 bytes for "key" alone
};

// The pairs in the order sent. Keys and decoded values are copied into
// abText, so nothing points into the header read. About 9 KB: not for a
// small stack.
struct UploadMetadata {
    std::uint32_t nPairs;
    MetadataPair aPairs[kMaxMetadataPairs];
    std::uint32_t cbText;
    unsigned char abText[kcbMaxMetadataHeader];

    const unsigned char* Key(const MetadataPair& pair) const { return abText + pair.lKey; }
    const unsigned char* Value(const MetadataPair& pair) const { return abText + pair.lValue; }
};

enum class MetadataStatus {
    kOk,
    kAbsent,
    kTooLong,        // over kcbMaxMetadataHeader bytes
    kTooManyPairs,   // over kMaxMetadataPairs
    kBadKey,         // an empty pair or key, or a key byte that is no visible ASCII
    kDuplicateKey,   // the same key twice (compared byte for byte)
    kBadValue,       // a value that is not strict base64, a second blank included
};

// Reads the header. A key is 1 or more visible ASCII bytes but ',' (no
// blanks, no control bytes, nothing past 0x7E); one space separates it from
// its value, which may be empty ("key" and "key " both give an empty
// value). Blanks (space, tab) around a pair are allowed, as around any
// element of an HTTP list, but an empty element is not: no ",," and no
// comma first or last. For anything but kOk the metadata holds no pairs.
MetadataStatus ReadUploadMetadata(const unsigned char* pb, std::size_t cb, UploadMetadata* pMeta);

// The pair of a key (compared byte for byte, with case), or null.
const MetadataPair* FindMetadata(const UploadMetadata& meta, const unsigned char* pbKey, std::size_t cbKey);
const MetadataPair* FindMetadata(const UploadMetadata& meta, const char* pszKey);

}  // namespace resumable

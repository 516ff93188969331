// Upload-Concat: "partial" for an upload that is a piece of a later one,
// "final;" and the pieces' URLs, separated by single spaces, for the upload
// made of them in that order. The server keeps the header's text as it came
// (upload_record.h) and echoes it on HEAD.
#pragma once
#include <cstddef>
#include <cstdint>

namespace resumable {

// The longest header taken, and the most pieces of a final upload.
constexpr std::size_t kcbMaxConcatHeader = 8192;
constexpr std::uint32_t kMaxConcatParts = 64;

// A URL as an offset and a length in the header read.
struct ConcatUrl {
    std::uint32_t l, cb;
};

struct UploadConcat {
    std::uint32_t nUrls;  // 0 but for kFinal
    ConcatUrl aUrls[kMaxConcatParts];
};

enum class ConcatStatus {
    kPartial,
    kFinal,
    kAbsent,
    kMalformed,  // neither form, an empty URL, a blank other than one space between URLs, a byte no URL holds
    kTooLong,    // over kcbMaxConcatHeader bytes or kMaxConcatParts URLs
};

// Reads the header; "partial" and "final" are compared with case. A URL is
// 1 or more visible ASCII bytes (RFC 3986 spells every URL in them; a
// space would end it); whether it names an upload of this server is the
// caller's question.
ConcatStatus ReadUploadConcat(const unsigned char* pb, std::size_t cb, UploadConcat* pConcat);

}  // namespace resumable

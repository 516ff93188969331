// Readers of the simple headers of a resumable upload request: the protocol
// version, the offset and the length, the deferred length, the method a
// client that cannot send PATCH or DELETE names instead, and PATCH's body
// type. Upload-Metadata, Upload-Checksum and Upload-Concat have files of
// their own (metadata_header.h, checksum_header.h, concat_header.h).
//
// Every reader takes the header's value as bytes, pb[0] .. pb[cb - 1], and
// reads nothing else. An empty value reads as an absent header: a page's
// server variables give the same empty string for both.
#pragma once
#include <cstddef>
#include <cstdint>

namespace resumable {

// The one protocol version served, for Tus-Resumable and Tus-Version.
constexpr char kszTusVersion[] = "1.0.0";

enum class VersionStatus {
    kSupported,  // exactly "1.0.0"
    kAbsent,     // none sent: right for OPTIONS alone
    kOther,      // any other text, a blank around "1.0.0" included: 412 with Tus-Version
};
VersionStatus ReadTusResumable(const unsigned char* pb, std::size_t cb);

// The largest offset or length taken: 2^53 - 1, the largest integer a page
// script's number holds exactly with its neighbours, so that a page shows
// and compares every offset it is given.
constexpr std::uint64_t kcbMaxUpload = (std::uint64_t{1} << 53) - 1;

enum class NumberStatus {
    kOk,
    kAbsent,
    kMalformed,  // anything but decimal digits (a sign, a blank, a point, an exponent), or past 2^64 - 1
    kTooLarge,   // digits only, above kcbMaxUpload and within 64 bits
};
// Upload-Offset and Upload-Length: one or more decimal digits (leading
// zeros allowed, as in Content-Length). *pcb is the value for kOk, else 0.
NumberStatus ReadUploadNumber(const unsigned char* pb, std::size_t cb, std::uint64_t* pcb);

enum class DeferStatus {
    kDeferred,   // exactly "1"
    kAbsent,
    kMalformed,  // any other value: 400
};
DeferStatus ReadUploadDeferLength(const unsigned char* pb, std::size_t cb);

// The methods the server tells apart; kOther for any other token.
enum class TusMethod { kOther, kHead, kPatch, kPost, kOptions, kDelete, kGet };

// The method a request line's token names, compared with case, as HTTP does.
TusMethod MethodFromToken(const unsigned char* pb, std::size_t cb);

// The longest method token taken from X-HTTP-Method-Override.
constexpr std::size_t kcchMaxMethod = 32;

enum class OverrideStatus {
    kOk,         // *pMethod holds the method named (kOther for a token not served: 405)
    kAbsent,     // the request line's method stands
    kMalformed,  // not an HTTP token (RFC 7230 tchar), or longer than kcchMaxMethod: 400
};
OverrideStatus ReadMethodOverride(const unsigned char* pb, std::size_t cb, TusMethod* pMethod);

// True when a PATCH's Content-Type is application/offset+octet-stream:
// type and subtype in any case (media types compare without case), and
// nothing else, neither blanks nor parameters. The type defines none, so a
// client that adds one (a charset) sends something else; refused with 415.
bool IsOffsetOctetStream(const unsigned char* pb, std::size_t cb);

}  // namespace resumable

// Upload-Checksum: "algorithm digest", the digest of a PATCH's body in
// base64 (base64.h), for the server to check before it keeps the bytes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace resumable {

enum class ChecksumAlgorithm { kSha1, kMd5, kSha256 };

// Tus-Checksum-Algorithm: the algorithms checked, as a client names them.
constexpr char kszChecksumAlgorithms[] = "sha1,md5,sha256";

constexpr std::uint32_t kcbMaxDigest = 32;

struct UploadChecksum {
    ChecksumAlgorithm algorithm;
    std::uint32_t cbDigest;
    unsigned char abDigest[kcbMaxDigest];
};

enum class ChecksumStatus {
    kOk,
    kAbsent,
    kMalformed,         // no single space between two parts, or a name no algorithm could have
    kUnknownAlgorithm,  // a well-formed name of an algorithm not checked here: 400
    kBadDigest,         // not strict base64, or not the algorithm's digest size: 400
};

// Reads the header. Algorithm names are lower case ASCII, as the protocol
// has them, and compared with case: "SHA1" is no algorithm's name
// (kMalformed), "sha512" a name of one not checked (kUnknownAlgorithm).
// "sha256" names SHA-256. The digest must be exactly the algorithm's size
// (20, 16 and 32 bytes).
ChecksumStatus ReadUploadChecksum(const unsigned char* pb, std::size_t cb, UploadChecksum* pChecksum);

// "sha1", "md5" or "sha256".
const char* ChecksumAlgorithmName(ChecksumAlgorithm algorithm);
std::uint32_t ChecksumDigestSize(ChecksumAlgorithm algorithm);

}  // namespace resumable

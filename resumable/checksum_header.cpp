#include "resumable/checksum_header.h"

#include <cstring>

#include "resumable/base64.h"

namespace resumable {

namespace {

// The longest name thought well-formed; the IANA names of hash functions
// are far shorter.
constexpr std::size_t kcchMaxAlgorithmName = 32;

// Any visible ASCII but upper case letters and the list's comma.
bool IsNameByte(unsigned char ch) { return ch > 0x20 && ch < 0x7F && ch != ',' && !(ch >= 'A' && ch <= 'Z'); }

const ChecksumAlgorithm kAlgorithms[] = {ChecksumAlgorithm::kSha1, ChecksumAlgorithm::kMd5,
                                         ChecksumAlgorithm::kSha256};

}  // namespace

const char* ChecksumAlgorithmName(ChecksumAlgorithm algorithm) {
    switch (algorithm) {
    case ChecksumAlgorithm::kSha1: return "sha1";
    case ChecksumAlgorithm::kMd5: return "md5";
    case ChecksumAlgorithm::kSha256: return "sha256";
    }
    return "";
}

std::uint32_t ChecksumDigestSize(ChecksumAlgorithm algorithm) {
    switch (algorithm) {
    case ChecksumAlgorithm::kSha1: return 20;
    case ChecksumAlgorithm::kMd5: return 16;
    case ChecksumAlgorithm::kSha256: return 32;
    }
    return 0;
}

ChecksumStatus ReadUploadChecksum(const unsigned char* pb, std::size_t cb, UploadChecksum* pChecksum) {
    std::memset(pChecksum, 0, sizeof *pChecksum);
    if (!pb || cb == 0) return ChecksumStatus::kAbsent;
    std::size_t lSpace = 0;
    while (lSpace < cb && pb[lSpace] != ' ') ++lSpace;
    if (lSpace == 0 || lSpace == cb || lSpace > kcchMaxAlgorithmName) return ChecksumStatus::kMalformed;
    for (std::size_t i = 0; i < lSpace; ++i)
        if (!IsNameByte(pb[i])) return ChecksumStatus::kMalformed;
    const unsigned char* pbDigest = pb + lSpace + 1;
    const std::size_t cchDigest = cb - lSpace - 1;
    if (cchDigest == 0 || pbDigest[0] == ' ') return ChecksumStatus::kMalformed;
    for (ChecksumAlgorithm algorithm : kAlgorithms) {
        const char* pszName = ChecksumAlgorithmName(algorithm);
        if (std::strlen(pszName) != lSpace || std::memcmp(pb, pszName, lSpace) != 0) continue;
        // Only text as long as the algorithm's digest in base64 is decoded;
        // unpadded, it would hold one byte more than the digest.
        const std::uint32_t cbDigest = ChecksumDigestSize(algorithm);
        unsigned char abDecoded[Base64DecodedMax((kcbMaxDigest + 2) / 3 * 4)];
        std::size_t cbDecoded = 0;
        if (cchDigest != (cbDigest + 2) / 3 * 4 || !DecodeBase64(pbDigest, cchDigest, abDecoded, &cbDecoded) ||
            cbDecoded != cbDigest)
            return ChecksumStatus::kBadDigest;
        pChecksum->algorithm = algorithm;
        pChecksum->cbDigest = cbDigest;
        std::memcpy(pChecksum->abDigest, abDecoded, cbDigest);
        return ChecksumStatus::kOk;
    }
    return ChecksumStatus::kUnknownAlgorithm;
}

}  // namespace resumable

// Upload-Checksum: the digests of "hello world" under each algorithm
// (the protocol's own example for sha1), every algorithm the server lists
// reading back, and each fault with the status that tells a 400 for an
// algorithm not checked from a malformed header.
#include "resumable/checksum_header.h"

#include <gtest/gtest.h>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;
using resumable::ChecksumAlgorithm;
using resumable::ChecksumStatus;
using resumable::UploadChecksum;

TEST(UploadChecksum, DigestsOfHelloWorld) {
    const struct {
        Bytes header;
        ChecksumAlgorithm algorithm;
        const char* pszHex;
    } cases[] = {
        {"sha1 Kq5sNclPz7QV2+lfQIuc6R7oRu0=", ChecksumAlgorithm::kSha1, "2aae6c35c94fcfb415dbe95f408b9ce91ee846ed"},
        {"md5 XrY7u+Ae7tCTyyK7j1rNww==", ChecksumAlgorithm::kMd5, "5eb63bbbe01eeed093cb22bb8f5acdc3"},
        {"sha256 uU0nuZNNPgilLlLX2n2r+sSE7+N6U4DukIj3rOLvzek=", ChecksumAlgorithm::kSha256,
         "b94d27b9934d3e08a52e52d7da7dabfac484efe37a5380ee9088f7ace2efcde9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        UploadChecksum checksum;
        ASSERT_EQ(ChecksumStatus::kOk, resumable::ReadUploadChecksum(U(c.header), c.header.size(), &checksum));
        EXPECT_EQ(c.algorithm, checksum.algorithm);
        EXPECT_EQ(c.pszHex, Hex(Bytes(reinterpret_cast<const char*>(checksum.abDigest), checksum.cbDigest)));
    }
}

TEST(UploadChecksum, EveryListedAlgorithmReadsBackUnderItsName) {
    const Bytes list = resumable::kszChecksumAlgorithms;
    int nNames = 0;
    for (std::size_t l = 0; l <= list.size(); ++nNames) {
        std::size_t lEnd = list.find(',', l);
        if (lEnd == Bytes::npos) lEnd = list.size();
        const Bytes name = list.substr(l, lEnd - l);
        l = lEnd + 1;
        SCOPED_TRACE(name);
        // A digest of each size from 1 to 33 bytes: only the algorithm's own reads.
        int nSizesRead = 0;
        for (std::size_t cb = 1; cb <= 33; ++cb) {
            const Bytes digest = Noise(cb, std::uint32_t(cb));
            const Bytes header = name + " " + Base64(digest);
            UploadChecksum checksum;
            const ChecksumStatus status = resumable::ReadUploadChecksum(U(header), header.size(), &checksum);
            if (status != ChecksumStatus::kOk) {
                EXPECT_EQ(ChecksumStatus::kBadDigest, status);
                EXPECT_EQ(0u, checksum.cbDigest);
                continue;
            }
            ++nSizesRead;
            EXPECT_EQ(name, resumable::ChecksumAlgorithmName(checksum.algorithm));
            EXPECT_EQ(resumable::ChecksumDigestSize(checksum.algorithm), cb);
            EXPECT_EQ(digest, Bytes(reinterpret_cast<const char*>(checksum.abDigest), checksum.cbDigest));
        }
        EXPECT_EQ(1, nSizesRead);
    }
    EXPECT_EQ(3, nNames);
}

TEST(UploadChecksum, EachFaultHasItsStatus) {
    const Bytes sha1 = "Kq5sNclPz7QV2+lfQIuc6R7oRu0=";
    const Bytes sha256 = "uU0nuZNNPgilLlLX2n2r+sSE7+N6U4DukIj3rOLvzek=";
    const struct {
        const char* pszWhat;
        Bytes header;
        ChecksumStatus status;
    } cases[] = {
        {"empty", "", ChecksumStatus::kAbsent},
        {"a name alone", "sha1", ChecksumStatus::kMalformed},
        {"a name and a space", "sha1 ", ChecksumStatus::kMalformed},
        {"two spaces", "sha1  " + sha1, ChecksumStatus::kMalformed},
        {"no name", " " + sha1, ChecksumStatus::kMalformed},
        {"a tab for the space", "sha1\t" + sha1, ChecksumStatus::kMalformed},
        {"upper case", "SHA1 " + sha1, ChecksumStatus::kMalformed},
        {"one upper case letter", "Sha1 " + sha1, ChecksumStatus::kMalformed},
        {"a list of names", "md5,sha1 " + sha1, ChecksumStatus::kMalformed},
        {"a control byte in the name", "sha1\x01 " + sha1, ChecksumStatus::kMalformed},
        {"a name of 33 characters", Bytes(33, 's') + " " + sha1, ChecksumStatus::kMalformed},
        {"sha512", "sha512 " + Base64(Noise(64, 1)), ChecksumStatus::kUnknownAlgorithm},
        {"crc32", "crc32 AAAAAA==", ChecksumStatus::kUnknownAlgorithm},
        {"sha-1", "sha-1 " + sha1, ChecksumStatus::kUnknownAlgorithm},
        {"sha-256", "sha-256 " + sha256, ChecksumStatus::kUnknownAlgorithm},
        {"a name of 32 characters", Bytes(32, 's') + " " + sha1, ChecksumStatus::kUnknownAlgorithm},
        {"an md5 digest for sha1", "sha1 XrY7u+Ae7tCTyyK7j1rNww==", ChecksumStatus::kBadDigest},
        {"a sha1 digest for sha256", "sha256 " + sha1, ChecksumStatus::kBadDigest},
        {"unpadded", "sha1 Kq5sNclPz7QV2+lfQIuc6R7oRu0", ChecksumStatus::kBadDigest},
        // 44 characters unpadded hold 33 bytes, one more than the digest's room.
        {"sha256 unpadded one byte long", "sha256 " + Base64(Noise(33, 2)).substr(0, 44), ChecksumStatus::kBadDigest},
        {"bits left over", "sha1 Kq5sNclPz7QV2+lfQIuc6R7oRu1=", ChecksumStatus::kBadDigest},
        {"a trailing space", "sha1 " + sha1 + " ", ChecksumStatus::kBadDigest},
        {"hex", "sha1 2aae6c35c94fcfb415dbe95f408b9ce91ee846ed", ChecksumStatus::kBadDigest},
        {"base64url", "sha1 Kq5sNclPz7QV2-lfQIuc6R7oRu0=", ChecksumStatus::kBadDigest},
        {"a NUL at the end", B("sha1 Kq5sNclPz7QV2+lfQIuc6R7oRu0=\0"), ChecksumStatus::kBadDigest},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        UploadChecksum checksum;
        EXPECT_EQ(c.status, resumable::ReadUploadChecksum(U(c.header), c.header.size(), &checksum));
        EXPECT_EQ(0u, checksum.cbDigest);
    }
}

}  // namespace

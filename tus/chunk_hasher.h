// A chunk's digest for Upload-Checksum through the system's CNG hashes.
#pragma once
#include <cstring>

#include "platform/content_hash.h"
#include "resumable/tus_exchange.h"

class CngChunkHasher final : public resumable::ChunkHasher {
public:
    bool Begin(resumable::ChecksumAlgorithm algorithm) override {
        switch (algorithm) {
        case resumable::ChecksumAlgorithm::kSha1: return m_hash.Begin(HashAlgorithm::kSha1) == ERROR_SUCCESS;
        case resumable::ChecksumAlgorithm::kMd5: return m_hash.Begin(HashAlgorithm::kMd5) == ERROR_SUCCESS;
        case resumable::ChecksumAlgorithm::kSha256: return m_hash.Begin(HashAlgorithm::kSha256) == ERROR_SUCCESS;
        }
        return false;
    }
    bool Data(const unsigned char* pb, std::size_t cb) override { return m_hash.Data(pb, cb) == ERROR_SUCCESS; }
    bool Finish(unsigned char (&abDigest)[resumable::kcbMaxDigest]) override {
        unsigned char ab[kcbMaxDigest];
        if (m_hash.Finish(ab) != ERROR_SUCCESS) return false;
        std::memcpy(abDigest, ab, sizeof abDigest < sizeof ab ? sizeof abDigest : sizeof ab);
        return true;
    }

private:
    ContentHash m_hash;
};

#include "resumable/metadata_header.h"

#include <cstring>

#include "resumable/base64.h"

namespace resumable {

namespace {

bool IsBlank(unsigned char ch) { return ch == ' ' || ch == '\t'; }

bool IsKeyByte(unsigned char ch) { return ch > 0x20 && ch < 0x7F && ch != ','; }

bool SameBytes(const unsigned char* pb1, std::size_t cb1, const unsigned char* pb2, std::size_t cb2) {
    return cb1 == cb2 && (cb1 == 0 || std::memcmp(pb1, pb2, cb1) == 0);
}

// Reads one pair, pb[l] .. pb[lEnd - 1] with its blanks already trimmed,
// into the metadata.
MetadataStatus ReadPair(const unsigned char* pb, std::size_t l, std::size_t lEnd, UploadMetadata* pMeta) {
    std::size_t lKeyEnd = l;
    while (lKeyEnd < lEnd && pb[lKeyEnd] != ' ') ++lKeyEnd;
    if (lKeyEnd == l) return MetadataStatus::kBadKey;
    for (std::size_t i = l; i < lKeyEnd; ++i)
        if (!IsKeyByte(pb[i])) return MetadataStatus::kBadKey;
    if (pMeta->nPairs == kMaxMetadataPairs) return MetadataStatus::kTooManyPairs;
    MetadataPair& pair = pMeta->aPairs[pMeta->nPairs];
    pair.lKey = pMeta->cbText;
    pair.cbKey = static_cast<std::uint32_t>(lKeyEnd - l);
    for (std::uint32_t i = 0; i < pMeta->nPairs; ++i) {
        const MetadataPair& other = pMeta->aPairs[i];
        if (SameBytes(pMeta->Key(other), other.cbKey, pb + l, pair.cbKey)) return MetadataStatus::kDuplicateKey;
    }
    // Keys and decoded values are never longer than the header, so the
    // store always has room for them.
    std::memcpy(pMeta->abText + pair.lKey, pb + l, pair.cbKey);
    pair.lValue = pair.lKey + pair.cbKey;
    std::size_t cbValue = 0;
    const std::size_t lValue = lKeyEnd < lEnd ? lKeyEnd + 1 : lEnd;  // after the one space
    if (!DecodeBase64(pb + lValue, lEnd - lValue, pMeta->abText + pair.lValue, &cbValue))
        return MetadataStatus::kBadValue;
    pair.cbValue = static_cast<std::uint32_t>(cbValue);
    pMeta->cbText = pair.lValue + pair.cbValue;
    ++pMeta->nPairs;
    return MetadataStatus::kOk;
}

}  // namespace

MetadataStatus ReadUploadMetadata(const unsigned char* pb, std::size_t cb, UploadMetadata* pMeta) {
    pMeta->nPairs = 0;
    pMeta->cbText = 0;
    if (!pb || cb == 0) return MetadataStatus::kAbsent;
    if (cb > kcbMaxMetadataHeader) return MetadataStatus::kTooLong;
    std::size_t l = 0;
    for (;;) {
        std::size_t lEnd = l;
        while (lEnd < cb && pb[lEnd] != ',') ++lEnd;
        std::size_t lPair = l, lPairEnd = lEnd;
        while (lPair < lPairEnd && IsBlank(pb[lPair])) ++lPair;
        while (lPairEnd > lPair && IsBlank(pb[lPairEnd - 1])) --lPairEnd;
        const MetadataStatus status = ReadPair(pb, lPair, lPairEnd, pMeta);
        if (status != MetadataStatus::kOk) {
            pMeta->nPairs = 0;
            pMeta->cbText = 0;
            return status;
        }
        if (lEnd == cb) return MetadataStatus::kOk;
        l = lEnd + 1;
    }
}

const MetadataPair* FindMetadata(const UploadMetadata& meta, const unsigned char* pbKey, std::size_t cbKey) {
    if (!pbKey && cbKey > 0) return nullptr;
    for (std::uint32_t i = 0; i < meta.nPairs; ++i) {
        const MetadataPair& pair = meta.aPairs[i];
        if (SameBytes(meta.Key(pair), pair.cbKey, pbKey, cbKey)) return &pair;
    }
    return nullptr;
}

const MetadataPair* FindMetadata(const UploadMetadata& meta, const char* pszKey) {
    if (!pszKey) return nullptr;
    return FindMetadata(meta, reinterpret_cast<const unsigned char*>(pszKey), std::strlen(pszKey));
}

}  // namespace resumable

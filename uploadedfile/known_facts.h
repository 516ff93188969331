// What is known of an uploaded file beyond what its client said: the media
// type and image size its first bytes tell, and the hashes taken so far.
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/content_hash.h"
#include "platform/module_heap.h"

struct KnownFacts {
    const char* pszDetectedType;  // a constant of filefacts, "" when unknown
    std::uint32_t nWidth, nHeight;
    std::uint8_t fDigestsKnown;  // bit 1 << HashAlgorithm
    unsigned char abDigests[4][kcbMaxDigest];  // by HashAlgorithm (entry 0 unused)

    bool Knows(HashAlgorithm algorithm) const { return (fDigestsKnown >> static_cast<int>(algorithm)) & 1; }
    void Keep(HashAlgorithm algorithm, const unsigned char (&abDigest)[kcbMaxDigest]);
};

// One KnownFacts per item (zero: nothing known), in a module-heap block.
ModuleBlock NewFactsTable(std::uint32_t nItems);

// The type and size read from a file's first bytes (at most kcbFactsHead).
void ReadHeadFacts(const unsigned char* pb, std::size_t cb, KnownFacts* pFacts);

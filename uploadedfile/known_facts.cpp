#include "uploadedfile/known_facts.h"

#include <cstring>

#include "filefacts/file_facts.h"

void KnownFacts::Keep(HashAlgorithm algorithm, const unsigned char (&abDigest)[kcbMaxDigest]) {
    std::memcpy(abDigests[static_cast<int>(algorithm)], abDigest, kcbMaxDigest);
    fDigestsKnown = static_cast<std::uint8_t>(fDigestsKnown | 1 << static_cast<int>(algorithm));
}

ModuleBlock NewFactsTable(std::uint32_t nItems) {
    const std::size_t cb = (nItems ? nItems : 1) * sizeof(KnownFacts);
    ModuleBlock table(ModuleAlloc(cb));
    if (table) std::memset(table.get(), 0, cb);
    return table;
}

void ReadHeadFacts(const unsigned char* pb, std::size_t cb, KnownFacts* pFacts) {
    pFacts->pszDetectedType = filefacts::DetectedType(pb, cb);
    if (!filefacts::ImageSize(pb, cb, &pFacts->nWidth, &pFacts->nHeight)) pFacts->nWidth = pFacts->nHeight = 0;
}

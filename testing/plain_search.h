// The position-by-position search, kept out of the product: the
// reference for ByteSearch's differential tests, the fuzz target and the
// benchmarks.
#pragma once
#include <cstdint>

inline std::int32_t PlainByteSearch(const unsigned char* pbPattern, std::int32_t cbPattern,
                                    const unsigned char* pbData, std::int32_t lStart, std::int32_t lEnd) {
    for (std::int32_t p = lStart; p < lEnd; ++p) {
        std::int32_t j = 0;
        while (j < cbPattern && p + j < lEnd && pbData[p + j] == pbPattern[j]) ++j;
        if (j == cbPattern) return p - lStart;
    }
    return -1;
}

struct PlainSearchPolicy {
    static std::int32_t Find(const unsigned char* pbPattern, std::int32_t cbPattern, const unsigned char* pbData,
                             std::int32_t lStart, std::int32_t lEnd) {
        return PlainByteSearch(pbPattern, cbPattern, pbData, lStart, lEnd);
    }
};

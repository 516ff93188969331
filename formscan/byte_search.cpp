// ByteSearch: a first-and-last-byte SSE2 filter with an exact comparison of
// every candidate, in position order, so the first match is the one the
// position-by-position search of Part 2.1 would give.
#include "formscan/byte_search.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Exact check of a candidate whose first and last bytes already matched.
inline bool MiddleEqual(const unsigned char* pbAt, const unsigned char* pbPattern, std::size_t cbPattern) {
    return cbPattern <= 2 || std::memcmp(pbAt + 1, pbPattern + 1, cbPattern - 2) == 0;
}

}  // namespace

std::int32_t ByteSearch(const unsigned char* pbPattern, std::int32_t cbPattern, const unsigned char* pbData,
                        std::int32_t lStart, std::int32_t lEnd) {
    if (lStart >= lEnd || cbPattern < 0) return -1;
    if (cbPattern == 0) return 0;
    const std::size_t cbData = static_cast<std::size_t>(lEnd) - static_cast<std::size_t>(lStart);
    const std::size_t cbPat = static_cast<std::size_t>(cbPattern);
    if (cbPat > cbData) return -1;
    const unsigned char* const pbBase = pbData + lStart;

    if (cbPat == 1) {
        const void* pv = std::memchr(pbBase, pbPattern[0], cbData);
        return pv ? static_cast<std::int32_t>(static_cast<const unsigned char*>(pv) - pbBase) : -1;
    }

    const unsigned char chFirst = pbPattern[0];
    const unsigned char chLast = pbPattern[cbPat - 1];
    const std::size_t iLastCandidate = cbData - cbPat;  // candidates are 0 .. iLastCandidate
    std::size_t i = 0;

#if defined(__SSE2__)
    // A block of candidates i .. i+w-1 needs bytes up to i+w-1+cbPat-1, which
    // must lie before cbData: i + cbPat - 1 + w <= cbData.
    const __m128i vFirst = _mm_set1_epi8(static_cast<char>(chFirst));
    const __m128i vLast = _mm_set1_epi8(static_cast<char>(chLast));
    const unsigned char* const pbTail = pbBase + cbPat - 1;
    while (i + cbPat - 1 + 32 <= cbData) {
        const __m128i f0 = _mm_cmpeq_epi8(vFirst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbBase + i)));
        const __m128i l0 = _mm_cmpeq_epi8(vLast, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbTail + i)));
        const __m128i f1 = _mm_cmpeq_epi8(vFirst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbBase + i + 16)));
        const __m128i l1 = _mm_cmpeq_epi8(vLast, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbTail + i + 16)));
        unsigned int uMask = static_cast<unsigned int>(_mm_movemask_epi8(_mm_and_si128(f0, l0))) |
                             (static_cast<unsigned int>(_mm_movemask_epi8(_mm_and_si128(f1, l1))) << 16);
        while (uMask != 0) {
            const std::size_t iCand = i + static_cast<std::size_t>(__builtin_ctz(uMask));
            if (MiddleEqual(pbBase + iCand, pbPattern, cbPat)) return static_cast<std::int32_t>(iCand);
            uMask &= uMask - 1;
        }
        i += 32;
    }
    if (i + cbPat - 1 + 16 <= cbData) {
        const __m128i f0 = _mm_cmpeq_epi8(vFirst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbBase + i)));
        const __m128i l0 = _mm_cmpeq_epi8(vLast, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbTail + i)));
        unsigned int uMask = static_cast<unsigned int>(_mm_movemask_epi8(_mm_and_si128(f0, l0)));
        while (uMask != 0) {
            const std::size_t iCand = i + static_cast<std::size_t>(__builtin_ctz(uMask));
            if (MiddleEqual(pbBase + iCand, pbPattern, cbPat)) return static_cast<std::int32_t>(iCand);
            uMask &= uMask - 1;
        }
        i += 16;
    }
#endif

    for (; i <= iLastCandidate; ++i) {
        if (pbBase[i] == chFirst && pbBase[i + cbPat - 1] == chLast && MiddleEqual(pbBase + i, pbPattern, cbPat))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

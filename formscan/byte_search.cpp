// ByteSearch: a first-and-last-byte SSE2 filter with an exact comparison of
// every candidate, in position order, so the first match is the one the
// position-by-position search would give.
#include "formscan/byte_search.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Exact check of a candidate whose first and last bytes already matched.
inline bool MiddleEqual(const unsigned char* pbAt, const unsigned char* pbPattern, std::size_t cbPattern) {
    return cbPattern <= 2 || formscan::BytesEqual(pbAt + 1, pbPattern + 1, cbPattern - 2);
}

#if defined(__SSE2__)
// 0xFF in each of 16 lanes whose candidate has the pattern's first byte at
// pbFirst[lane] and its last byte at pbLast[lane].
inline __m128i Candidates16(__m128i vFirst, __m128i vLast, const unsigned char* pbFirst, const unsigned char* pbLast) {
    return _mm_and_si128(_mm_cmpeq_epi8(vFirst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbFirst))),
                         _mm_cmpeq_epi8(vLast, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pbLast))));
}

// The first candidate of a bit mask (bit k: candidate iBase + k) whose whole
// pattern matches, or -1.
inline std::int32_t FirstConfirmed(unsigned int uMask, std::size_t iBase, const unsigned char* pbBase,
                                   const unsigned char* pbPattern, std::size_t cbPattern) {
    while (uMask != 0) {
        const std::size_t iCand = iBase + static_cast<std::size_t>(__builtin_ctz(uMask));
        if (MiddleEqual(pbBase + iCand, pbPattern, cbPattern)) return static_cast<std::int32_t>(iCand);
        uMask &= uMask - 1;
    }
    return -1;
}
#endif

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
    // A block of w candidates starting at i reads up to its last candidate's
    // last pattern byte, which must lie before cbData: i + cbPat - 1 + w <= cbData.
    const __m128i vFirst = _mm_set1_epi8(static_cast<char>(chFirst));
    const __m128i vLast = _mm_set1_epi8(static_cast<char>(chLast));
    const unsigned char* const pbTail = pbBase + cbPat - 1;
    // 64 candidates per step; one movemask tells whether any of them passed
    // the filter (rarely, in random data: 1 in 65536 positions).
    while (i + cbPat - 1 + 64 <= cbData) {
        const __m128i c0 = Candidates16(vFirst, vLast, pbBase + i, pbTail + i);
        const __m128i c1 = Candidates16(vFirst, vLast, pbBase + i + 16, pbTail + i + 16);
        const __m128i c2 = Candidates16(vFirst, vLast, pbBase + i + 32, pbTail + i + 32);
        const __m128i c3 = Candidates16(vFirst, vLast, pbBase + i + 48, pbTail + i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3))) != 0) {
            const unsigned int uLow = static_cast<unsigned int>(_mm_movemask_epi8(c0)) |
                                      (static_cast<unsigned int>(_mm_movemask_epi8(c1)) << 16);
            const unsigned int uHigh = static_cast<unsigned int>(_mm_movemask_epi8(c2)) |
                                       (static_cast<unsigned int>(_mm_movemask_epi8(c3)) << 16);
            std::int32_t iFound = FirstConfirmed(uLow, i, pbBase, pbPattern, cbPat);
            if (iFound < 0) iFound = FirstConfirmed(uHigh, i + 32, pbBase, pbPattern, cbPat);
            if (iFound >= 0) return iFound;
        }
        i += 64;
    }
    while (i + cbPat - 1 + 16 <= cbData) {
        const unsigned int uMask =
            static_cast<unsigned int>(_mm_movemask_epi8(Candidates16(vFirst, vLast, pbBase + i, pbTail + i)));
        const std::int32_t iFound = FirstConfirmed(uMask, i, pbBase, pbPattern, cbPat);
        if (iFound >= 0) return iFound;
        i += 16;
    }
#endif

    for (; i <= iLastCandidate; ++i) {
        if (pbBase[i] == chFirst && pbBase[i + cbPat - 1] == chLast && MiddleEqual(pbBase + i, pbPattern, cbPat))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::uint32_t ByteSearchWide(const unsigned char* pbPattern, std::uint32_t cbPattern, const unsigned char* pbData,
                             std::uint32_t lStart, std::uint32_t lEnd, std::uint32_t cbWindow) {
    std::uint32_t lBase = lStart;
    while (lBase < lEnd && lEnd - lBase >= cbPattern) {
        const std::uint32_t cbHere = lEnd - lBase < cbWindow ? lEnd - lBase : cbWindow;
        const std::int32_t lAt = ByteSearch(pbPattern, static_cast<std::int32_t>(cbPattern), pbData + lBase, 0,
                                            static_cast<std::int32_t>(cbHere));
        if (lAt >= 0) return lBase + static_cast<std::uint32_t>(lAt);
        if (cbHere == lEnd - lBase) break;
        lBase += cbHere - (cbPattern - 1);
    }
    return kByteSearchNone;
}

// ByteSearch: the scanner's byte-pattern search.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Finds the first occurrence of the cbPattern bytes at pbPattern that lies
// wholly inside pbData[lStart] .. pbData[lEnd - 1]. Returns its offset
// relative to lStart, or -1. Never reads pbData[lEnd] or beyond, nor before
// pbData[lStart]. Gives exactly the result of the position-by-position search
// (tried at lStart, lStart + 1, ...), for every input; candidates
// are filtered 64 positions at a time on the pattern's first and last byte
// (SSE2, 16 bytes per compare) and confirmed by an exact comparison, in
// position order. cbPattern 0 matches at once
// when lStart < lEnd; lStart >= lEnd gives -1.
std::int32_t ByteSearch(const unsigned char* pbPattern, std::int32_t cbPattern, const unsigned char* pbData,
                        std::int32_t lStart, std::int32_t lEnd);

namespace formscan {

// Byte-for-byte equality of short runs, inline: the C library's memcmp is a
// call (under Wine a plain loop) for every candidate of every part.
// Runs of 16 bytes or more (a boundary line) are compared 16 at a time.
inline bool BytesEqual(const void* pv1, const void* pv2, std::size_t cb) {
    const auto* pb1 = static_cast<const unsigned char*>(pv1);
    const auto* pb2 = static_cast<const unsigned char*>(pv2);
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= cb; i += 16) {
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb1 + i));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb2 + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(v1, v2)) != 0xFFFF) return false;
    }
#endif
    for (; i < cb; ++i)
        if (pb1[i] != pb2[i]) return false;
    return true;
}

}  // namespace formscan

// Search policy used by the scanner's template (form_scan_impl.h).
struct ByteSearchPolicy {
    static std::int32_t Find(const unsigned char* pbPattern, std::int32_t cbPattern, const unsigned char* pbData,
                             std::int32_t lStart, std::int32_t lEnd) {
        return ByteSearch(pbPattern, cbPattern, pbData, lStart, lEnd);
    }
};

// ByteSearch over data of up to 4 GiB - 1 bytes. ByteSearch takes 31-bit
// offsets, so the range lStart .. lEnd - 1 is searched in windows of at most
// cbWindow bytes that overlap by cbPattern - 1 (a match across a window edge
// is still found). Returns the absolute offset of the first match, or
// kByteSearchNone. Needs 1 <= cbPattern < cbWindow <= 2^31 - 1.
constexpr std::uint32_t kByteSearchNone = 0xFFFFFFFFu;
std::uint32_t ByteSearchWide(const unsigned char* pbPattern, std::uint32_t cbPattern, const unsigned char* pbData,
                             std::uint32_t lStart, std::uint32_t lEnd, std::uint32_t cbWindow = 1u << 30);

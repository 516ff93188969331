// Form scanner: the header readers and the product's scan, which
// uses ByteSearch for every pattern search.
#include "formscan/form_scan.h"

#include "formscan/byte_search.h"
#include "formscan/form_scan_impl.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

std::int32_t CopyHeaderValue(const char* pszValue, char* pszField) {
    std::int32_t cb = 0;
    // A longer value is cut at 256 bytes: nothing may be written past the
    // field.
    while (cb < kcbHeaderField - 1) {
        const char ch = pszValue[cb];
        if (formscan::IsHeaderValueStop(ch)) break;
        pszField[cb] = ch;
        ++cb;
    }
    pszField[cb] = '\0';
    return cb;
}

namespace {

using formscan::BytesEqual;
using formscan::HeaderValues;

// Start of the value when the key stands at pch[lStart], wholly inside pch[0]
// .. pch[cch - 1], else null (a key holds no NUL, so it never matches across
// the text's end).
template <std::size_t N>
const char* KeyValueAt(const char* pch, std::int32_t lStart, std::int32_t cch, const char (&key)[N]) {
    constexpr std::int32_t cchKey = static_cast<std::int32_t>(N - 1);
    if (lStart < 0 || lStart > cch - cchKey || !BytesEqual(pch + lStart, key, cchKey)) return nullptr;
    return pch + lStart + cchKey;
}

// Where each key holds its anchor byte, the one that the scan looks for.
constexpr std::int32_t kDispositionColon = 19;  // "Content-Disposition: "
constexpr std::int32_t kContentTypeColon = 12;  // "Content-Type: "
constexpr std::int32_t kNameEquals = 4;         // "name=\""
constexpr std::int32_t kFilenameEquals = 8;     // "filename=\""

// Takes, for each key not yet found, an occurrence whose anchor is pch[a].
// Anchors come in increasing order, so the first occurrence of each key wins.
void TakeKeysAt(const char* pch, std::int32_t a, std::int32_t cch, HeaderValues* pValues) {
    constexpr std::int32_t cbFilePrefix = sizeof formscan::kKeyFilename - sizeof formscan::kKeyName;  // "file"
    if (pch[a] == ':') {
        if (!pValues->pchDisposition)
            pValues->pchDisposition = KeyValueAt(pch, a - kDispositionColon, cch, formscan::kKeyDisposition);
        if (!pValues->pchContentType)
            pValues->pchContentType = KeyValueAt(pch, a - kContentTypeColon, cch, formscan::kKeyContentType);
        return;
    }
    if (!pValues->pchName) {
        // Not the tail of the filename key (otherwise a filename parameter
        // standing first would name the part).
        const std::int32_t lName = a - kNameEquals;
        if (!(lName >= cbFilePrefix && BytesEqual(pch + lName - cbFilePrefix, formscan::kKeyFilename, cbFilePrefix)))
            pValues->pchName = KeyValueAt(pch, lName, cch, formscan::kKeyName);
    }
    if (!pValues->pchFilename)
        pValues->pchFilename = KeyValueAt(pch, a - kFilenameEquals, cch, formscan::kKeyFilename);
}

}  // namespace

// One pass over the text before its first NUL, stopping only at the anchor
// bytes ':' and '=' (16 bytes at a time with SSE2); each key's first
// occurrence, as strstr would find it in a NUL-terminated copy.
HeaderValues formscan::FindHeaderValues(const char* pchHeaders, std::int32_t cchHeaders) {
    static_assert(sizeof kKeyDisposition - 1 > kDispositionColon && kKeyDisposition[kDispositionColon] == ':', "");
    static_assert(kKeyContentType[kContentTypeColon] == ':' && kKeyName[kNameEquals] == '=', "");
    static_assert(kKeyFilename[kFilenameEquals] == '=', "");
    HeaderValues values = {nullptr, nullptr, nullptr, nullptr};
    std::int32_t i = 0;
#if defined(__SSE2__)
    const __m128i vColon = _mm_set1_epi8(':');
    const __m128i vEquals = _mm_set1_epi8('=');
    const __m128i vZero = _mm_setzero_si128();
    for (; i + 16 <= cchHeaders; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pchHeaders + i));
        unsigned int uMask = static_cast<unsigned int>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, vColon), _mm_cmpeq_epi8(v, vEquals)), _mm_cmpeq_epi8(v, vZero))));
        for (; uMask != 0; uMask &= uMask - 1) {
            const std::int32_t a = i + __builtin_ctz(uMask);
            if (pchHeaders[a] == '\0') return values;
            TakeKeysAt(pchHeaders, a, cchHeaders, &values);
        }
    }
#endif
    for (; i < cchHeaders; ++i) {
        const char ch = pchHeaders[i];
        if (ch == '\0') break;
        if (ch == ':' || ch == '=') TakeKeysAt(pchHeaders, i, cchHeaders, &values);
    }
    return values;
}

void ReadPartHeaders(const char* pszHeaders, PartHeaders* pHeaders) {
    const formscan::HeaderValues values =
        formscan::FindHeaderValues(pszHeaders, static_cast<std::int32_t>(std::strlen(pszHeaders)));
    if (values.pchDisposition) CopyHeaderValue(values.pchDisposition, pHeaders->szDisposition);
    if (values.pchName) CopyHeaderValue(values.pchName, pHeaders->szName);
    if (values.pchFilename) CopyHeaderValue(values.pchFilename, pHeaders->szFilename);
    if (values.pchContentType) CopyHeaderValue(values.pchContentType, pHeaders->szContentType);
}

char* FindBoundary(const unsigned char* pbBody, std::int32_t cbBody) {
    return formscan::FindBoundaryWith<ByteSearchPolicy>(pbBody, cbBody);
}

std::int32_t SliceValue(const unsigned char* pbBody, std::int32_t lValueStart, std::int32_t cbBody,
                        const char* pszBoundary, FormScan* pScan) {
    return formscan::SliceValueWith<ByteSearchPolicy>(pbBody, lValueStart, cbBody, pszBoundary, pScan);
}

std::int32_t ScanForm(const unsigned char* pbBody, std::int32_t cbBody, const char16_t* pszItemName,
                      FormScan* pScan, ScanMode mode) {
    return formscan::ScanFormWith<ByteSearchPolicy>(pbBody, cbBody, pszItemName, pScan, mode);
}

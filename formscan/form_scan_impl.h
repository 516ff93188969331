// The scanner's internal operations, for form_scan.cpp and for the
// tests, fuzz target and benchmarks that check them. The operations that
// search are templates over a search policy (a type with a static Find of
// ByteSearch's signature): the product instantiates them with ByteSearch; the
// tests and benchmarks also with the plain position-by-position search.
#pragma once
#include "formscan/byte_search.h"
#include "formscan/form_scan.h"
#include "platform/module_heap.h"
#include "platform/text_services.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies the header value that starts at pszValue into the field: up to the
// first stop byte (NUL, CR, LF, '"', ';'), at most 256 bytes, then a NUL.
void CopyHeaderValue(const char* pszValue, char* pszField);

// Fills the fields of *pHeaders whose keys occur in the NUL-terminated header
// text; each key's first occurrence wins (for the name key: the first one that
// is not the tail of the filename key). Fields of absent keys are left as
// they are.
void ReadPartHeaders(const char* pszHeaders, PartHeaders* pHeaders);

namespace formscan {

// Room for the item name in the ANSI code page, in the scan's own storage.
// A longer name (more than 1023 bytes) cannot equal any 256-byte szName; the
// scan then accepts no part.
constexpr int kcbItemNameRoom = 1024;

// Header keys, in the order ReadPartHeaders looks for them.
constexpr char kKeyDisposition[] = "Content-Disposition: ";
constexpr char kKeyName[] = "name=\"";
constexpr char kKeyFilename[] = "filename=\"";
constexpr char kKeyContentType[] = "Content-Type: ";

constexpr unsigned char kLineEnd[2] = {13, 10};
constexpr unsigned char kBlankLine[4] = {13, 10, 13, 10};

// Builds "-<boundary>\r\n" (bClosing false) or "-<boundary>--\r\n" (bClosing
// true) at pbOut; returns its length. pbOut needs cbBoundary + 5 bytes.
inline std::int32_t BuildDelimiterPattern(const char* pszBoundary, std::size_t cbBoundary, bool bClosing,
                                          unsigned char* pbOut) {
    std::size_t cb = 0;
    pbOut[cb++] = '-';
    std::memcpy(pbOut + cb, pszBoundary, cbBoundary);
    cb += cbBoundary;
    if (bClosing) {
        pbOut[cb++] = '-';
        pbOut[cb++] = '-';
    }
    pbOut[cb++] = 13;
    pbOut[cb++] = 10;
    return static_cast<std::int32_t>(cb);
}

// Finds the boundary text from the body's first line: the bytes after the
// last '-' among pbBody[1] .. the byte before the first CR LF (all of them
// after pbBody[0] if none is a '-'). Returns it NUL-terminated in a block from
// the module heap (the caller frees it), or null when the body holds no CR LF,
// begins with CR LF, or no memory is available.
template <class Search>
char* FindBoundaryWith(const unsigned char* pbBody, std::int32_t cbBody) {
    if (!pbBody || cbBody <= 0) return nullptr;
    const std::int32_t a = Search::Find(kLineEnd, 2, pbBody, 0, cbBody);
    if (a <= 0) return nullptr;  // no CR LF, or an empty first line: no boundary to speak of
    std::int32_t i = a - 1;
    while (i >= 1 && pbBody[i] != '-') --i;
    if (i < 1) i = 0;
    const std::size_t cbText = static_cast<std::size_t>(a - 1 - i);
    char* pszBoundary = static_cast<char*>(ModuleAlloc(cbText + 1));
    if (!pszBoundary) return nullptr;
    std::memcpy(pszBoundary, pbBody + i + 1, cbText);
    pszBoundary[cbText] = '\0';
    return pszBoundary;
}

// Enters the value that starts at lValueStart into *pScan: it ends at the last
// CR LF before the next boundary line (or, only if there is none, the next
// closing line). Returns the offset just past that CR LF, -1 when neither line
// follows (nothing entered), -2 when no memory was available (nothing
// entered). At 3000 values nothing more is stored, but the result is the same.
template <class Search>
std::int32_t SliceValueWith(const unsigned char* pbBody, std::int32_t lValueStart, std::int32_t cbBody,
                            const char* pszBoundary, FormScan* pScan) {
    const std::size_t cbBoundary = std::strlen(pszBoundary);
    ModuleBlock pattern(ModuleAlloc(cbBoundary + 6));  // the closing line and a NUL
    if (!pattern) return -2;
    unsigned char* const pbPattern = pattern.as<unsigned char>();

    std::int32_t cbPattern = BuildDelimiterPattern(pszBoundary, cbBoundary, false, pbPattern);
    std::int32_t n = Search::Find(pbPattern, cbPattern, pbBody, lValueStart, cbBody);
    if (n < 0) {
        cbPattern = BuildDelimiterPattern(pszBoundary, cbBoundary, true, pbPattern);
        n = Search::Find(pbPattern, cbPattern, pbBody, lValueStart, cbBody);
        if (n < 0) return -1;
    }

    // The last CR LF wholly inside the n bytes before the delimiter line: the
    // one that belongs to the delimiter, not to the value.
    std::int32_t k = 0;
    const unsigned char* const pbValue = pbBody + lValueStart;
    for (std::int32_t j = n - 2; j >= 0; --j) {
        if (pbValue[j] == 13 && pbValue[j + 1] == 10) {
            k = j;
            break;
        }
    }

    if (pScan->lValueCount < kMaxFormValues) {
        pScan->pValueStart[pScan->lValueCount] = pbValue;
        pScan->lValueLength[pScan->lValueCount] = k;
        ++pScan->lValueCount;
    }
    return lValueStart + k + 2;
}

// The whole scan (see ScanForm in form_scan.h).
template <class Search>
std::int32_t ScanFormWith(const unsigned char* pbBody, std::int32_t cbBody, const char16_t* pszItemName,
                          FormScan* pScan, ScanMode mode) {
    if (!pScan) return kScanFailed;
    std::memset(pScan, 0, sizeof *pScan);
    if (!pszItemName) return kScanFailed;

    // The item name in the ANSI code page, in this call's own storage.
    // A name the code page cannot spell exactly names no part: its nearest
    // spelling ('?' or a look-alike) would match a part of another name.
    char szItemName[kcbItemNameRoom];
    bool bInexact = false;
    const int cbItemName = TextWideToAnsiExact(pszItemName, nullptr, 0, &bInexact);
    if (bInexact) return kScanNotFound;
    if (cbItemName <= 0) return kScanFailed;
    const bool bNameCanMatch = cbItemName <= kcbItemNameRoom;
    if (bNameCanMatch && TextWideToAnsiExact(pszItemName, szItemName, kcbItemNameRoom, &bInexact) <= 0)
        return bInexact ? kScanNotFound : kScanFailed;

    ModuleBlock boundary(FindBoundaryWith<Search>(pbBody, cbBody));
    if (!boundary) return kScanFailed;
    const char* const pszBoundary = boundary.as<char>();
    const std::size_t cbBoundary = std::strlen(pszBoundary);

    ModuleBlock pattern(ModuleAlloc(cbBoundary + 4));  // the boundary line and a NUL
    if (!pattern) return kScanFailed;
    unsigned char* const pbLinePattern = pattern.as<unsigned char>();
    const std::int32_t cbLinePattern = BuildDelimiterPattern(pszBoundary, cbBoundary, false, pbLinePattern);
    pbLinePattern[cbLinePattern] = 0;

    std::int32_t q = 0;
    for (;;) {
        const std::int32_t r = Search::Find(pbLinePattern, cbLinePattern, pbBody, q, cbBody);
        if (r < 0) break;
        q += r + cbLinePattern;

        const std::int32_t h = Search::Find(kBlankLine, 4, pbBody, q, cbBody);
        if (h < 0) break;

        ModuleBlock headerCopy(ModuleAlloc(static_cast<std::size_t>(h) + 1));
        if (!headerCopy) return kScanFailed;
        char* const pszHeaders = headerCopy.as<char>();
        std::memcpy(pszHeaders, pbBody + q, static_cast<std::size_t>(h));
        pszHeaders[h] = '\0';
        PartHeaders scratch;
        std::memset(&scratch, 0, sizeof scratch);
        ReadPartHeaders(pszHeaders, &scratch);
        q += h + 4;

        if (!bNameCanMatch || TextCompareNoCase(szItemName, scratch.szName) != 0) continue;
        if (mode == ScanMode::kTextOnly && scratch.szFilename[0] != '\0') return kScanFilePart;

        // Accepted: the record's header fields become this part's (reading the
        // same copy again would give exactly the scratch fields).
        static_cast<PartHeaders&>(*pScan) = scratch;
        headerCopy.reset();

        if (pScan->szFilename[0] != '\0') {
            pScan->lValueCount = 0;
            return SliceValueWith<Search>(pbBody, q, cbBody, pszBoundary, pScan);
        }
        // A value lost for want of memory fails the scan: a success with a
        // value silently missing would hand the page a wrong answer.
        if (SliceValueWith<Search>(pbBody, q, cbBody, pszBoundary, pScan) == kScanFailed) return kScanFailed;
    }
    return pScan->lValueCount >= 1 ? pScan->lValueCount : kScanNotFound;
}

}  // namespace formscan

// The product's instantiations (ByteSearch), used by ScanForm.
char* FindBoundary(const unsigned char* pbBody, std::int32_t cbBody);
std::int32_t SliceValue(const unsigned char* pbBody, std::int32_t lValueStart, std::int32_t cbBody,
                        const char* pszBoundary, FormScan* pScan);

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
// Returns the length copied (the field's text length).
std::int32_t CopyHeaderValue(const char* pszValue, char* pszField);

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

// True for the bytes that end a header value (see CopyHeaderValue).
inline bool IsHeaderValueStop(char ch) { return ch == '\0' || ch == '\r' || ch == '\n' || ch == '"' || ch == ';'; }

// Where the four keys' values start in a part's header block: pchHeaders[0]
// .. pchHeaders[cchHeaders - 1], read as the text before its first NUL (as if
// it were copied and NUL-terminated), found by ReadPartHeaders's rules; null
// for an absent key. A value read from there ends, at the latest, at the byte
// just past the block, which must be a stop byte (in a body it is the CR of
// the blank line).
struct HeaderValues {
    const char* pchDisposition;
    const char* pchName;
    const char* pchContentType;
    const char* pchFilename;
};
HeaderValues FindHeaderValues(const char* pchHeaders, std::int32_t cchHeaders);

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

// The boundary line and the closing line of one boundary, built once in one
// block of at least BlockSize(cbBoundary) bytes.
struct DelimiterPatterns {
    static std::size_t BlockSize(std::size_t cbBoundary) { return 2 * cbBoundary + 8; }
    DelimiterPatterns(const char* pszBoundary, std::size_t cbBoundary, unsigned char* pbBlock)
        : pbLine(pbBlock),
          cbLine(BuildDelimiterPattern(pszBoundary, cbBoundary, false, pbBlock)),
          pbClosing(pbBlock + cbLine),
          cbClosing(BuildDelimiterPattern(pszBoundary, cbBoundary, true, pbBlock + cbLine)) {}
    const unsigned char* pbLine;
    std::int32_t cbLine;
    const unsigned char* pbClosing;
    std::int32_t cbClosing;
};

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

// Where the next boundary line was found by the last slice: at lLine (a body
// offset), none at or after lFrom (lLine < 0), or not known (lFrom < 0).
struct NextLine {
    std::int32_t lFrom = -1;
    std::int32_t lLine = -1;
};

// Enters the value that starts at lValueStart into *pScan, with the patterns
// already built (see SliceValueWith); takes no memory. Records in *pNext what
// it learnt about the next boundary line.
template <class Search>
std::int32_t SliceValueAt(const unsigned char* pbBody, std::int32_t lValueStart, std::int32_t cbBody,
                          const DelimiterPatterns& patterns, FormScan* pScan, NextLine* pNext) {
    std::int32_t n = Search::Find(patterns.pbLine, patterns.cbLine, pbBody, lValueStart, cbBody);
    pNext->lFrom = lValueStart;
    pNext->lLine = n < 0 ? -1 : lValueStart + n;
    if (n < 0) {
        n = Search::Find(patterns.pbClosing, patterns.cbClosing, pbBody, lValueStart, cbBody);
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

// Enters the value that starts at lValueStart into *pScan: it ends at the last
// CR LF before the next boundary line (or, only if there is none, the next
// closing line). Returns the offset just past that CR LF, -1 when neither line
// follows (nothing entered), -2 when no memory was available for the patterns
// (nothing entered). At 3000 values nothing more is stored, but the result is
// the same.
template <class Search>
std::int32_t SliceValueWith(const unsigned char* pbBody, std::int32_t lValueStart, std::int32_t cbBody,
                            const char* pszBoundary, FormScan* pScan) {
    const std::size_t cbBoundary = std::strlen(pszBoundary);
    ModuleBlock block(ModuleAlloc(DelimiterPatterns::BlockSize(cbBoundary)));
    if (!block) return -2;
    const DelimiterPatterns patterns(pszBoundary, cbBoundary, block.as<unsigned char>());
    NextLine next;
    return SliceValueAt<Search>(pbBody, lValueStart, cbBody, patterns, pScan, &next);
}

// Sets a record header field to the value at pchValue ("" when null). The
// record's fields hold zero bytes past their text (as a field cleared and
// then filled does); *pcbHeld is the field's text length, kept up to date.
inline void SetHeaderField(const char* pchValue, char* pszField, std::int32_t* pcbHeld) {
    std::int32_t cb = 0;
    if (pchValue)
        cb = CopyHeaderValue(pchValue, pszField);
    else
        pszField[0] = '\0';
    if (*pcbHeld > cb) std::memset(pszField + cb + 1, 0, static_cast<std::size_t>(*pcbHeld - cb));
    *pcbHeld = cb;
}

// The whole scan (see ScanForm in form_scan.h). Per part it takes no memory
// and reads the header block once, where it stands in the body. Of the record
// it writes the header fields (cleared first), the count and the slices it
// enters.
template <class Search>
std::int32_t ScanFormWith(const unsigned char* pbBody, std::int32_t cbBody, const char16_t* pszItemName,
                          FormScan* pScan, ScanMode mode) {
    if (!pScan) return kScanFailed;
    std::memset(static_cast<PartHeaders*>(pScan), 0, sizeof(PartHeaders));
    pScan->lValueCount = 0;
    if (!pszItemName) return kScanFailed;

    // The item name in the ANSI code page, in this call's own storage; the
    // size is asked for only when the room is too small.
    // A name the code page cannot spell exactly names no part: its nearest
    // spelling ('?' or a look-alike) would match a part of another name.
    char szItemName[kcbItemNameRoom];
    bool bInexact = false;
    int cbItemName = TextWideToAnsiExact(pszItemName, szItemName, kcbItemNameRoom, &bInexact);
    if (bInexact) return kScanNotFound;
    bool bNameCanMatch = cbItemName > 0;
    if (!bNameCanMatch) {
        cbItemName = TextWideToAnsiExact(pszItemName, nullptr, 0, &bInexact);
        if (bInexact) return kScanNotFound;
        if (cbItemName <= 0 || cbItemName <= kcbItemNameRoom) return kScanFailed;
    }
    const std::int32_t cchItemName = cbItemName - 1;

    ModuleBlock boundary(FindBoundaryWith<Search>(pbBody, cbBody));
    if (!boundary) return kScanFailed;
    const char* const pszBoundary = boundary.as<char>();
    const std::size_t cbBoundary = std::strlen(pszBoundary);

    // Both delimiter patterns, built once for the whole scan.
    ModuleBlock patternBlock(ModuleAlloc(DelimiterPatterns::BlockSize(cbBoundary)));
    if (!patternBlock) return kScanFailed;
    const DelimiterPatterns patterns(pszBoundary, cbBoundary, patternBlock.as<unsigned char>());

    std::int32_t cbHeld[4] = {0, 0, 0, 0};  // text lengths of the record's header fields
    NextLine next;
    const char* pchLastAccepted = nullptr;  // header block of the last accepted text part
    std::int32_t cchLastAccepted = -1;
    std::int32_t q = 0;
    for (;;) {
        // A slice has already searched from its value's start, which is at or
        // before q; when q is not past what it found, that is the answer here.
        std::int32_t r;
        if (next.lFrom >= 0 && next.lFrom <= q && (next.lLine < 0 || q <= next.lLine))
            r = next.lLine < 0 ? -1 : next.lLine - q;
        else
            r = Search::Find(patterns.pbLine, patterns.cbLine, pbBody, q, cbBody);
        if (r < 0) break;
        q += r + patterns.cbLine;

        const std::int32_t h = Search::Find(kBlankLine, 4, pbBody, q, cbBody);
        if (h < 0) break;
        // The header block is read where it stands: it is followed by the CR
        // of the blank line, which ends any value read from it.
        const char* const pchHeaders = reinterpret_cast<const char*>(pbBody + q);
        q += h + 4;
        if (!bNameCanMatch) continue;

        // A header block equal byte for byte to the last accepted text
        // part's is accepted with the same fields (they follow from its bytes
        // alone): a field sent many times is read once.
        if (!(h == cchLastAccepted && BytesEqual(pchHeaders, pchLastAccepted, static_cast<std::size_t>(h)))) {
            // Names equal byte for byte are equal; only others are compared
            // by the system's rules.
            const HeaderValues values = FindHeaderValues(pchHeaders, h);
            char szPartName[kcbHeaderField];
            std::int32_t cchPartName = 0;
            if (values.pchName)
                cchPartName = CopyHeaderValue(values.pchName, szPartName);
            else
                szPartName[0] = '\0';
            const bool bSameBytes = cchPartName == cchItemName && BytesEqual(szPartName, szItemName, cchPartName);
            if (!bSameBytes && TextCompareNoCase(szItemName, szPartName) != 0) continue;

            const bool bFilePart = values.pchFilename && !IsHeaderValueStop(*values.pchFilename);
            if (mode == ScanMode::kTextOnly && bFilePart) return kScanFilePart;

            // Accepted: the record's header fields become this part's.
            SetHeaderField(values.pchName, pScan->szName, &cbHeld[0]);
            SetHeaderField(values.pchDisposition, pScan->szDisposition, &cbHeld[1]);
            SetHeaderField(values.pchContentType, pScan->szContentType, &cbHeld[2]);
            SetHeaderField(values.pchFilename, pScan->szFilename, &cbHeld[3]);

            if (bFilePart) {
                pScan->lValueCount = 0;
                return SliceValueAt<Search>(pbBody, q, cbBody, patterns, pScan, &next);
            }
            pchLastAccepted = pchHeaders;
            cchLastAccepted = h;
        }
        SliceValueAt<Search>(pbBody, q, cbBody, patterns, pScan, &next);
    }
    return pScan->lValueCount >= 1 ? pScan->lValueCount : kScanNotFound;
}

}  // namespace formscan

// The product's instantiations (ByteSearch), used by ScanForm.
char* FindBoundary(const unsigned char* pbBody, std::int32_t cbBody);
std::int32_t SliceValue(const unsigned char* pbBody, std::int32_t lValueStart, std::int32_t cbBody,
                        const char* pszBoundary, FormScan* pScan);

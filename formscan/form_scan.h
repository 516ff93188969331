// Form scanner: finds the values of one named item in a
// multipart/form-data body held in memory. The scan fills a caller-owned
// FormScan record with slices that point into the caller's body.
#pragma once
#include <cstdint>

// Width of each header field: 256 bytes of text and the terminating NUL.
constexpr int kcbHeaderField = 257;
// Fixed capacity of the value table.
constexpr std::int32_t kMaxFormValues = 3000;

// Results of ScanForm besides a count (1..3000) or a body offset (positive).
constexpr std::int32_t kScanNotFound = -1;  // no accepted part yielded a value
constexpr std::int32_t kScanFailed = -2;    // null name, no CR LF in the body, or no memory
constexpr std::int32_t kScanFilePart = -3;  // text-only mode: a part of that name is a file part

// Header fields of one part, as the body's bytes stand (no decoding).
struct PartHeaders {
    char szName[kcbHeaderField];         // name parameter
    char szDisposition[kcbHeaderField];  // "Content-Disposition: " value up to its first ';'
    char szContentType[kcbHeaderField];  // "Content-Type: " value without parameters
    char szFilename[kcbHeaderField];     // filename parameter as the client sent it
};

// The record one scan fills. Its first four fields are the PartHeaders of the
// last accepted part; entry i of pValueStart and lValueLength is value i.
struct FormScan : PartHeaders {
    std::int32_t lValueCount;
    const unsigned char* pValueStart[kMaxFormValues];
    std::int32_t lValueLength[kMaxFormValues];
};

// What a scan accepts under the item's name.
enum class ScanMode {
    // Every part: a file part of that name becomes the only value and the
    // result is the offset just past the CR LF that ends its content.
    kAllParts,
    // Text parts only: a file part of that name gives kScanFilePart.
    kTextOnly,
};

// Scans the body (cbBody bytes; never read at or beyond cbBody) for the item
// named pszItemName (UTF-16, NUL-terminated, may be null) and fills *pScan.
// A name the ANSI code page cannot hold exactly gives kScanNotFound.
// Result: 1..3000 value count, a positive offset (all-parts mode, file part),
// kScanNotFound, kScanFailed or kScanFilePart. The scan takes two module-heap
// blocks (the boundary text and its delimiter patterns), however many parts
// the body holds, and releases them before it returns. Of the record it
// clears the header fields and lValueCount first and then writes only those
// and the entries 0 .. lValueCount - 1: entries past the count keep whatever
// they held. A header field holds zero bytes past its text.
std::int32_t ScanForm(const unsigned char* pbBody, std::int32_t cbBody, const char16_t* pszItemName,
                      FormScan* pScan, ScanMode mode);

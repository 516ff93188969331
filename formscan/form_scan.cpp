// Form scanner: the header readers and the product's scan, which
// uses ByteSearch for every pattern search.
#include "formscan/form_scan.h"

#include "formscan/byte_search.h"
#include "formscan/form_scan_impl.h"

#include <cstring>

void CopyHeaderValue(const char* pszValue, char* pszField) {
    int cb = 0;
    // A longer value is cut at 256 bytes: nothing may be written past the
    // field.
    while (cb < kcbHeaderField - 1) {
        const char ch = pszValue[cb];
        if (ch == '\0' || ch == '\r' || ch == '\n' || ch == '"' || ch == ';') break;
        pszField[cb] = ch;
        ++cb;
    }
    pszField[cb] = '\0';
}

namespace {

// First occurrence of the name key that is not the tail of the filename key
// (otherwise a filename parameter standing first would name the part).
const char* FindNameKey(const char* pszHeaders) {
    constexpr std::size_t cbFilePrefix = sizeof formscan::kKeyFilename - sizeof formscan::kKeyName;  // "file"
    for (const char* p = std::strstr(pszHeaders, formscan::kKeyName); p; p = std::strstr(p + 1, formscan::kKeyName)) {
        const bool bInFilenameKey = static_cast<std::size_t>(p - pszHeaders) >= cbFilePrefix &&
                                    std::memcmp(p - cbFilePrefix, formscan::kKeyFilename, cbFilePrefix) == 0;
        if (!bInFilenameKey) return p;
    }
    return nullptr;
}

}  // namespace

void ReadPartHeaders(const char* pszHeaders, PartHeaders* pHeaders) {
    if (const char* p = std::strstr(pszHeaders, formscan::kKeyDisposition))
        CopyHeaderValue(p + sizeof formscan::kKeyDisposition - 1, pHeaders->szDisposition);
    if (const char* p = FindNameKey(pszHeaders))
        CopyHeaderValue(p + sizeof formscan::kKeyName - 1, pHeaders->szName);
    if (const char* p = std::strstr(pszHeaders, formscan::kKeyFilename))
        CopyHeaderValue(p + sizeof formscan::kKeyFilename - 1, pHeaders->szFilename);
    if (const char* p = std::strstr(pszHeaders, formscan::kKeyContentType))
        CopyHeaderValue(p + sizeof formscan::kKeyContentType - 1, pHeaders->szContentType);
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

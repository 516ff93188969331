// libFuzzer target for ScanForm (host, clang, ASan+UBSan). Input layout:
//   byte 0: bit 0 text-only mode; bit 1 code page 1252 (else 932); bit 2 null
//           item name; bits 3-7 v: v != 0 makes every allocation after the
//           first v-1 fail (HostHeapFailAfter(v - 1)).
//   byte 1: n, the item name's length in ANSI bytes; then those n bytes.
//   the rest: the body (in its own exact-size block, so a read at or beyond
//           the body length is caught).
// Checks what a caller relies on (slices inside the body, lengths >= 0, count
// 0..3000, result class matching the record, header fields NUL-terminated
// within 257 bytes, no heap block left) and that the scan agrees exactly
// with the same scan over the plain position-by-position search.
#include "formscan/byte_search.h"
#include "formscan/form_scan.h"
#include "formscan/form_scan_impl.h"
#include "testing/host_services.h"
#include "platform/text_services.h"
#include "testing/plain_search.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void Check(bool bCondition, const char* pszWhat) {
    if (!bCondition) {
        std::fprintf(stderr, "formscan invariant broken: %s\n", pszWhat);
        std::abort();
    }
}

void CheckRecord(const FormScan& scan, std::int32_t result, const unsigned char* pbBody, std::int32_t cbBody,
                 bool bTextOnly, bool bNullName) {
    Check(scan.lValueCount >= 0 && scan.lValueCount <= kMaxFormValues, "count within 0..3000");
    for (std::int32_t i = 0; i < scan.lValueCount; ++i) {
        Check(scan.lValueLength[i] >= 0, "length never negative");
        Check(scan.pValueStart[i] != nullptr && scan.pValueStart[i] >= pbBody &&
                  scan.pValueStart[i] - pbBody <= cbBody,
              "slice starts inside the body");
        Check(scan.lValueLength[i] <= cbBody - (scan.pValueStart[i] - pbBody), "slice ends inside the body");
        if (i > 0) Check(scan.pValueStart[i] > scan.pValueStart[i - 1], "slices in body order");
    }
    const char* fields[] = {scan.szName, scan.szDisposition, scan.szContentType, scan.szFilename};
    for (const char* f : fields) Check(std::memchr(f, 0, kcbHeaderField) != nullptr, "field NUL-terminated");

    const bool bFile = scan.szFilename[0] != '\0';
    if (result > 0) {
        Check(scan.lValueCount >= 1, "positive result has values");
        if (!bTextOnly && bFile) {
            Check(scan.lValueCount == 1, "file part is the only value");
            Check(result == (scan.pValueStart[0] - pbBody) + scan.lValueLength[0] + 2, "file end offset");
            Check(result <= cbBody, "file end inside the body");
        } else {
            Check(result == scan.lValueCount, "count result equals lValueCount");
        }
    } else if (result == kScanNotFound) {
        Check(scan.lValueCount == 0, "-1 holds no values");
    } else if (result == kScanFilePart) {
        Check(bTextOnly, "-3 only in text-only mode");
        Check(!bFile, "-3 keeps the fields of a text part");
    } else {
        Check(result == kScanFailed, "result is 1..3000, an offset, -1, -2 or -3");
    }
    if (bTextOnly) Check(!bFile, "text-only never accepts a file part");
    if (bNullName) {
        static const PartHeaders kCleared{};
        Check(result == kScanFailed && scan.lValueCount == 0 &&
                  std::memcmp(static_cast<const PartHeaders*>(&scan), &kCleared, sizeof kCleared) == 0,
              "null name: -2, cleared");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned flags = data[0];
    const bool bTextOnly = flags & 1;
    const bool b1252 = flags & 2;
    const bool bNoName = flags & 4;
    const long lFailAfter = static_cast<long>(flags >> 3) - 1;  // -1: never
    std::size_t cbName = data[1];
    if (cbName > size - 2) cbName = size - 2;
    const std::size_t cbBody = size - 2 - cbName;
    if (cbBody > 0x7fffffff) return 0;

    HostSetCodePage(b1252 ? 1252 : 932);
    std::vector<char> ansiName(data + 2, data + 2 + cbName);
    ansiName.push_back('\0');
    std::vector<char16_t> wideName(static_cast<std::size_t>(TextAnsiToWide(ansiName.data(), nullptr, 0)) + 1, 0);
    TextAnsiToWide(ansiName.data(), wideName.data(), static_cast<int>(wideName.size()));
    const char16_t* pszItem = bNoName ? nullptr : wideName.data();

    std::unique_ptr<unsigned char[]> body(new unsigned char[cbBody ? cbBody : 1]);
    if (cbBody) std::memcpy(body.get(), data + 2 + cbName, cbBody);
    const unsigned char* pbBody = body.get();
    const std::int32_t lBody = static_cast<std::int32_t>(cbBody);

    std::unique_ptr<FormScan> scan(new FormScan), reference(new FormScan);
    std::memset(scan.get(), 0x5A, sizeof *scan);
    std::memset(reference.get(), 0xA5, sizeof *reference);

    const long lLive = HostHeapLiveBlocks();
    HostHeapFailAfter(lFailAfter);
    const std::int32_t result = ScanForm(pbBody, lBody, pszItem, scan.get(), bTextOnly ? ScanMode::kTextOnly : ScanMode::kAllParts);
    HostHeapFailAfter(lFailAfter);
    const std::int32_t expected =
        formscan::ScanFormWith<PlainSearchPolicy>(pbBody, lBody, pszItem, reference.get(), bTextOnly ? ScanMode::kTextOnly : ScanMode::kAllParts);
    HostHeapFailAfter(-1);
    Check(HostHeapLiveBlocks() == lLive, "no heap block left");

    CheckRecord(*scan, result, pbBody, lBody, bTextOnly, bNoName);
    Check(result == expected, "same result as the plain search");
    // The record as far as a scan writes it: the header fields (zero past
    // their text), the count and the entries below it.
    Check(std::memcmp(static_cast<const PartHeaders*>(scan.get()), static_cast<const PartHeaders*>(reference.get()),
                      sizeof(PartHeaders)) == 0 &&
              scan->lValueCount == reference->lValueCount &&
              std::memcmp(scan->pValueStart, reference->pValueStart, scan->lValueCount * sizeof scan->pValueStart[0]) == 0 &&
              std::memcmp(scan->lValueLength, reference->lValueLength, scan->lValueCount * sizeof scan->lValueLength[0]) == 0,
          "same record as the plain search");

    // ByteSearch itself against the plain search: the item name's bytes as
    // the pattern (at most 64), over a part of the body.
    if (cbName >= 1 && cbName <= 64 && cbBody > 0) {
        const auto* pbPattern = reinterpret_cast<const unsigned char*>(data + 2);
        const std::int32_t s = static_cast<std::int32_t>(data[2] % (cbBody + 1));
        const std::int32_t m = static_cast<std::int32_t>(cbName);
        Check(ByteSearch(pbPattern, m, pbBody, s, lBody) == PlainByteSearch(pbPattern, m, pbBody, s, lBody),
              "ByteSearch equals the plain search");
    }
    return 0;
}

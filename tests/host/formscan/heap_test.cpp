// The scan's module-heap use: the boundary text and the pattern block and no
// others, every one released on every way out, and the -2 outcomes when an
// allocation fails (injected: after n successful
// allocations every allocation fails).
#include "formscan/form_scan.h"

#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"
#include "tests/host/formscan/heap_failure_test.h"
#include "tests/host/formscan/scan_helpers.h"

#include <string>

namespace {

class HeapFailure : public HeapFailureTest {
protected:
    // Scans with the n+1-th allocation and all later ones failing.
    std::int32_t ScanFailing(long n, const ExactBody& body, const char16_t* item, ScanMode mode, FormScan* record) {
        const long lLive = TestHeapLiveBlocks();
        TestHeapFailAfter(n);
        const std::int32_t result = ScanForm(body.data(), body.size(), item, record, mode);
        TestHeapFailAfter(-1);
        EXPECT_EQ(TestHeapLiveBlocks(), lLive) << "block left after a failure at allocation " << n;
        return result;
    }
    // Number of allocations a scan makes: the least n that lets it run as if
    // memory never failed.
    long CountAllocations(const ExactBody& body, const char16_t* item, ScanMode mode) {
        auto record = NewRecord(), reference = NewRecord();
        const std::int32_t expected = ScanForm(body.data(), body.size(), item, reference.get(), mode);
        for (long n = 0; n < 100000; ++n) {
            if (ScanFailing(n, body, item, mode, record.get()) == expected &&
                std::memcmp(record.get(), reference.get(), sizeof(FormScan)) == 0)
                return n;
        }
        return -1;
    }
};

// The header fields and the count, which every scan clears first.
bool HeadCleared(const FormScan& record) {
    static const PartHeaders kClearedHeaders{};
    return std::memcmp(static_cast<const PartHeaders*>(&record), &kClearedHeaders, sizeof kClearedHeaders) == 0 &&
           record.lValueCount == 0;
}

TEST_F(HeapFailure, BlocksPerScan) {
    // Boundary text + pattern memory, however many parts and values: no
    // block per part or per value.
    const std::string text = TextPart("a", "1") + TextPart("b", "2") + TextPart("a", "3") + TextPart("c", "4") + kClose;
    ExactBody body(text);
    EXPECT_EQ(CountAllocations(body, u"a", ScanMode::kTextOnly), 2);
    EXPECT_EQ(CountAllocations(body, u"b", ScanMode::kAllParts), 2);
    // No part: boundary text and pattern memory only (the closing line is no
    // boundary line).
    ExactBody empty(kClose);
    EXPECT_EQ(CountAllocations(empty, u"a", ScanMode::kTextOnly), 2);
    // The name conversion takes nothing from the module heap.
    ExactBody noCrlf("abc");
    EXPECT_EQ(CountAllocations(noCrlf, u"a", ScanMode::kTextOnly), 0);
}

TEST_F(HeapFailure, EveryFailurePoint) {
    // Allocations: 0 boundary, 1 patterns; nothing after them.
    const std::string text = TextPart("a", "1") + TextPart("b", "2") + TextPart("a", "3") +
                             FilePart("a", "x.bin", "application/octet-stream", "FILE") + kClose;
    ExactBody body(text);
    auto record = NewRecord();

    for (ScanMode mode : {ScanMode::kTextOnly, ScanMode::kAllParts}) {
        SCOPED_TRACE(mode == ScanMode::kTextOnly ? "text-only" : "all-parts");
        // No memory for the boundary text or the pattern memory: -2, cleared.
        for (long n : {0L, 1L}) {
            EXPECT_EQ(ScanFailing(n, body, u"a", mode, record.get()), kScanFailed);
            EXPECT_TRUE(HeadCleared(*record));
        }
    }
    // Once both are had, memory failing changes nothing: every value and the
    // file part's fields.
    EXPECT_EQ(ScanFailing(2, body, u"a", ScanMode::kAllParts, record.get()), static_cast<std::int32_t>(text.size() - kClose.size()));
    EXPECT_EQ(record->lValueCount, 1);
    EXPECT_EQ(body.Slice(*record, 0), "FILE");
    EXPECT_STREQ(record->szFilename, "x.bin");
    EXPECT_STREQ(record->szContentType, "application/octet-stream");
    // Text-only: the file part is turned away: -3, with the values before it.
    EXPECT_EQ(ScanFailing(2, body, u"a", ScanMode::kTextOnly, record.get()), kScanFilePart);
    EXPECT_EQ(record->lValueCount, 2);
}

TEST_F(HeapFailure, TextValuesNeedNoMemory) {
    // Allocations: 0 boundary, 1 patterns. Entering a text value takes no
    // memory, so none can be lost for want of it.
    ExactBody body(TextPart("a", "1") + TextPart("a", "2") + kClose);
    auto record = NewRecord();
    for (ScanMode mode : {ScanMode::kTextOnly, ScanMode::kAllParts}) {
        EXPECT_EQ(ScanFailing(2, body, u"a", mode, record.get()), 2);
        ASSERT_EQ(record->lValueCount, 2);
        EXPECT_EQ(body.Slice(*record, 0), "1");
        EXPECT_EQ(body.Slice(*record, 1), "2");
        EXPECT_STREQ(record->szName, "a");
    }
}

TEST_F(HeapFailure, NoBlockLeftAtAnyFailurePointOfManyBodies) {
    const std::string bodies[] = {
        TextPart("a", "1") + FilePart("a", "f", "t/t", "x") + kClose,
        kClose,
        "--AaB03x\r\nContent-Disposition: form-data; name=\"a\"\r\nv\r\n" + kClose,
        TextPart("a", "1") + TextPart("a", "2"),
        "\r\n" + kClose,
    };
    for (const std::string& text : bodies) {
        ExactBody body(text);
        auto record = NewRecord();
        for (ScanMode mode : {ScanMode::kTextOnly, ScanMode::kAllParts})
            for (long n = 0; n < 12; ++n) ScanFailing(n, body, u"a", mode, record.get());
    }
}

}  // namespace

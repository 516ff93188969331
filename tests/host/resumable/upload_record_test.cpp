// The upload record: records of each kind written in the documented layout
// (built here field by field, with a CRC of the test's own) and read back
// whole; every beginning of one read as cut short, every changed byte
// caught; hand edits that keep the CRC right caught by the fields' checks;
// records of other formats and versions told apart.
#include "resumable/upload_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "resumable/http_date.h"
#include "resumable/tus_headers.h"
#include "resumable_bytes.h"
#include "tests/common/fact_bytes.h"

namespace {

using namespace resumable_test;
using resumable::kcbUploadRecordFixed;
using resumable::RecordStatus;
using resumable::UploadRecord;

const char kszId[] = "0123456789abcdef0123456789abcdef";

struct Sample {
    const char* pszWhat;
    std::uint32_t flags;
    std::uint64_t cbLength, cbOffset;
    std::int64_t tCreated, tExpires;
    Bytes metadata, concat;
};

const Bytes kExampleMetadata = "filename d29ybGRfZG9taW5hdGlvbl9wbGFuLnBkZg==,is_confidential";

std::vector<Sample> Samples() {
    const Bytes longestMetadata = "kkk " + Base64(Noise(6141, 3));
    const Bytes longestConcat = "final;/" + Bytes(resumable::kcbMaxConcatHeader - 7, 'u');
    return {
        {"plain", 0, 100, 40, 1403712000, 1403798400, kExampleMetadata, ""},
        {"deferred", resumable::kRecordLengthDeferred, 0, 12345, 1403712000, 0, "", ""},
        {"partial", resumable::kRecordPartial, 5, 5, 1403712000, 1403712000, "", "partial"},
        {"final", resumable::kRecordFinal, 11, 11, 1403712000, 1403798400, "a YQ==", "final;/files/a /files/b"},
        {"final of deferred pieces", resumable::kRecordFinal | resumable::kRecordLengthDeferred, 0, 0, 1, 2, "",
         "final;/files/a"},
        {"empty upload at the epoch", 0, 0, 0, 0, 0, "", ""},
        {"every field at its largest", resumable::kRecordFinal, resumable::kcbMaxUpload, resumable::kcbMaxUpload, resumable::ktMaxHttpDate,
         resumable::ktMaxHttpDate, longestMetadata, longestConcat},
    };
}

UploadRecord RecordOf(const Sample& s) {
    UploadRecord rec{};
    std::memcpy(rec.szId, kszId, sizeof kszId);
    rec.flags = s.flags;
    rec.cbLength = s.cbLength;
    rec.cbOffset = s.cbOffset;
    rec.tCreated = s.tCreated;
    rec.tExpires = s.tExpires;
    rec.pbMetadata = s.metadata.empty() ? nullptr : U(s.metadata);
    rec.cbMetadata = std::uint32_t(s.metadata.size());
    rec.pbConcat = s.concat.empty() ? nullptr : U(s.concat);
    rec.cbConcat = std::uint32_t(s.concat.size());
    return rec;
}

// The record's bytes but its CRC, as the layout documents them.
Bytes Body(const Sample& s, std::uint32_t nVersion = 1) {
    const std::size_t cbRecord = kcbUploadRecordFixed + s.metadata.size() + s.concat.size();
    return "VRUR" + Le32(nVersion) + Le32(std::uint32_t(cbRecord)) + Le32(s.flags) + kszId + Le64(s.cbLength) +
           Le64(s.cbOffset) + Le64(std::uint64_t(s.tCreated)) + Le64(std::uint64_t(s.tExpires)) +
           Le32(std::uint32_t(s.metadata.size())) + Le32(std::uint32_t(s.concat.size())) + s.metadata + s.concat;
}

Bytes Sealed(const Bytes& body) { return body + Le32(facts_test::Crc32(body)); }

Bytes Written(const UploadRecord& rec) {
    std::vector<unsigned char> out(resumable::kcbMaxUploadRecord);
    const std::size_t cb = resumable::WriteUploadRecord(rec, out.data(), out.size());
    return Bytes(reinterpret_cast<const char*>(out.data()), cb);
}

// Reads a record from a block of exactly its size.
RecordStatus Read(const Bytes& bytes, UploadRecord* pRec) {
    const facts_test::Exact exact(bytes);
    return resumable::ReadUploadRecord(exact.data(), exact.size(), pRec);
}

RecordStatus Read(const Bytes& bytes) {
    UploadRecord rec;
    return Read(bytes, &rec);
}

TEST(UploadRecord, EachKindIsWrittenInTheDocumentedLayoutAndReadBackWhole) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.pszWhat);
        const UploadRecord rec = RecordOf(s);
        ASSERT_TRUE(resumable::UploadRecordValid(rec));
        const Bytes bytes = Written(rec);
        EXPECT_EQ(resumable::UploadRecordSize(rec), bytes.size());
        EXPECT_EQ(Hex(Sealed(Body(s))), Hex(bytes));

        UploadRecord back;
        std::memset(&back, 0x5A, sizeof back);
        ASSERT_EQ(RecordStatus::kOk, resumable::ReadUploadRecord(U(bytes), bytes.size(), &back));
        EXPECT_STREQ(kszId, back.szId);
        EXPECT_EQ(s.flags, back.flags);
        EXPECT_EQ(s.cbLength, back.cbLength);
        EXPECT_EQ(s.cbOffset, back.cbOffset);
        EXPECT_EQ(s.tCreated, back.tCreated);
        EXPECT_EQ(s.tExpires, back.tExpires);
        EXPECT_EQ(s.metadata, Bytes(reinterpret_cast<const char*>(back.pbMetadata), back.cbMetadata));
        EXPECT_EQ(s.concat, Bytes(reinterpret_cast<const char*>(back.pbConcat), back.cbConcat));
        if (back.cbMetadata) EXPECT_EQ(U(bytes) + 88, back.pbMetadata) << "the text is read in place";
        EXPECT_EQ(bytes, Written(back));
    }
    EXPECT_EQ(resumable::kcbMaxUploadRecord, Written(RecordOf(Samples().back())).size());
}

TEST(UploadRecord, EveryBeginningOfARecordReadsAsCutShort) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.pszWhat);
        const Bytes bytes = Sealed(Body(s));
        for (std::size_t cb = 0; cb < bytes.size(); ++cb) {
            UploadRecord rec;
            std::memset(&rec, 0x5A, sizeof rec);
            ASSERT_EQ(RecordStatus::kTruncated, Read(bytes.substr(0, cb), &rec)) << cb;
            ASSERT_EQ(0u, rec.cbMetadata);
            ASSERT_EQ('\0', rec.szId[0]);
        }
    }
}

TEST(UploadRecord, EveryChangedByteIsCaught) {
    for (const Sample& s : Samples()) {
        if (s.metadata.size() > 1000) continue;  // the small records suffice, byte by byte
        SCOPED_TRACE(s.pszWhat);
        const Bytes bytes = Sealed(Body(s));
        for (std::size_t l = 0; l < bytes.size(); ++l)
            for (unsigned char chMask : {0x01, 0x80, 0xFF}) {
                Bytes changed = bytes;
                changed[l] = char(changed[l] ^ chMask);
                const RecordStatus status = Read(changed);
                SCOPED_TRACE(testing::Message() << "byte " << l << " ^ " << int(chMask));
                if (l < 4) EXPECT_EQ(RecordStatus::kForeign, status);
                else if (l < 8) EXPECT_TRUE(status == RecordStatus::kForeign || status == RecordStatus::kNewerVersion);
                else if (l < 12) EXPECT_TRUE(status == RecordStatus::kCorrupt || status == RecordStatus::kTruncated);
                else EXPECT_EQ(RecordStatus::kCorrupt, status);  // a CRC-32 catches every burst of 32 bits
            }
    }
}

TEST(UploadRecord, OtherFilesAndOtherVersionsAreToldApart) {
    const Sample plain = Samples().front();
    const Bytes record = Sealed(Body(plain));
    const struct {
        const char* pszWhat;
        Bytes bytes;
        RecordStatus status;
    } cases[] = {
        {"empty", "", RecordStatus::kTruncated},
        {"the tag's beginning", "VRU", RecordStatus::kTruncated},
        {"another tag's beginning", "VX", RecordStatus::kForeign},
        {"another tag", "VRUS" + record.substr(4), RecordStatus::kForeign},
        {"the tag in lower case", "vrur" + record.substr(4), RecordStatus::kForeign},
        {"zeros", Bytes(200, '\0'), RecordStatus::kForeign},
        {"a PNG", B("\x89PNG\r\n\x1A\n\0\0\0\rIHDR"), RecordStatus::kForeign},
        {"text", "filename d29ybGRfZG9taW5hdGlvbl9wbGFuLnBkZg==", RecordStatus::kForeign},
        {"version 0", Sealed(Body(plain, 0)), RecordStatus::kForeign},
        {"version 2", Sealed(Body(plain, 2)), RecordStatus::kNewerVersion},
        {"version 2's beginning", Body(plain, 2).substr(0, 8), RecordStatus::kNewerVersion},
        {"the largest version", Sealed(Body(plain, 0xFFFFFFFF)), RecordStatus::kNewerVersion},
        {"a byte after the record", record + "\n", RecordStatus::kCorrupt},
        {"two records", record + record, RecordStatus::kCorrupt},
        {"the CRC of the empty record", Body(plain) + Le32(0), RecordStatus::kCorrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.status, Read(c.bytes));
    }
}

Bytes Replaced(Bytes bytes, std::size_t l, const Bytes& part) { return bytes.replace(l, part.size(), part); }

TEST(UploadRecord, SizeFieldsThatDisagreeWithTheRecordAreCaught) {
    const Sample plain = Samples().front();
    const Bytes body = Body(plain);
    const std::uint32_t cb = std::uint32_t(body.size() + 4);
    const struct {
        const char* pszWhat;
        Bytes bytes;
        RecordStatus status;
    } cases[] = {
        {"record size below the fixed fields", Sealed(Replaced(body, 8, Le32(91))), RecordStatus::kCorrupt},
        {"record size zero", Sealed(Replaced(body, 8, Le32(0))), RecordStatus::kCorrupt},
        {"record size past the largest", Sealed(Replaced(body, 8, Le32(resumable::kcbMaxUploadRecord + 1))),
         RecordStatus::kCorrupt},
        {"record size one short", Sealed(Replaced(body, 8, Le32(cb - 1))), RecordStatus::kCorrupt},
        {"record size one long", Sealed(Replaced(body, 8, Le32(cb + 1))), RecordStatus::kTruncated},
        {"metadata size one more", Sealed(Replaced(body, 80, Le32(std::uint32_t(plain.metadata.size() + 1)))),
         RecordStatus::kBadField},
        {"metadata size one less", Sealed(Replaced(body, 80, Le32(std::uint32_t(plain.metadata.size() - 1)))),
         RecordStatus::kBadField},
        {"a concatenation size as well", Sealed(Replaced(body, 84, Le32(1))), RecordStatus::kBadField},
        {"sizes that wrap in 32 bits", Sealed(Replaced(Replaced(body, 80, Le32(0xFFFFFFFF)), 84,
                                                       Le32(std::uint32_t(plain.metadata.size() + 1)))),
         RecordStatus::kBadField},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.status, Read(c.bytes));
    }
}

TEST(UploadRecord, HandEditsUnderARightCrcAreCaughtByTheFields) {
    const std::vector<Sample> samples = Samples();
    const Sample& plain = samples[0];
    const Sample& final = samples[3];
    const Bytes body = Body(plain), finalBody = Body(final);
    const std::size_t lMetadata = 88;
    const struct {
        const char* pszWhat;
        Bytes body;
    } cases[] = {
        {"an unknown flag", Replaced(body, 12, Le32(8))},
        {"a flag in the top bit", Replaced(body, 12, Le32(0x80000000))},
        {"deferred with a length", Replaced(body, 12, Le32(resumable::kRecordLengthDeferred))},
        {"partial without its header", Replaced(body, 12, Le32(resumable::kRecordPartial))},
        {"final without its header", Replaced(body, 12, Le32(resumable::kRecordFinal))},
        {"partial and final", Replaced(finalBody, 12, Le32(resumable::kRecordPartial | resumable::kRecordFinal))},
        {"partial with a final header", Replaced(finalBody, 12, Le32(resumable::kRecordPartial))},
        {"no concatenation flag with its header", Replaced(finalBody, 12, Le32(0))},
        {"an upper case id", Replaced(body, 16, "A")},
        {"a dot in the id", Replaced(body, 16, ".")},
        {"a NUL ending the id early", Replaced(body, 47, B("\0"))},
        {"a NUL starting the id", Replaced(body, 16, B("\0"))},
        {"a length past the largest", Replaced(Replaced(body, 48, Le64(resumable::kcbMaxUpload + 1)), 56,
                                               Le64(resumable::kcbMaxUpload + 1))},
        {"an offset past the length", Replaced(body, 56, Le64(101))},
        {"an offset past 64 bits' sign", Replaced(body, 56, Le64(~std::uint64_t{0}))},
        {"created before 1970", Replaced(body, 64, Le64(~std::uint64_t{0}))},
        {"created after the last date", Replaced(Replaced(body, 64, Le64(resumable::ktMaxHttpDate + 1)), 72, Le64(0))},
        {"expiring before its creation", Replaced(body, 72, Le64(1403711999))},
        {"expiring after the last date", Replaced(body, 72, Le64(resumable::ktMaxHttpDate + 1))},
        {"expiring before 1970", Replaced(body, 72, Le64(~std::uint64_t{0}))},
        {"metadata not base64", Replaced(body, lMetadata + 9, "*")},
        {"metadata with a key twice", Replaced(body, lMetadata + 46, "filename,abcdef")},
        {"metadata with a control byte", Replaced(body, lMetadata, "\x01")},
        {"a concatenation with two spaces", Replaced(finalBody, lMetadata + 6 + 15, " ")},
        {"a concatenation of another form", Replaced(finalBody, lMetadata + 6, "FINAL;")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(c.body.size() == body.size() || c.body.size() == finalBody.size()) << "an edit keeps the size";
        UploadRecord rec;
        std::memset(&rec, 0x5A, sizeof rec);
        EXPECT_EQ(RecordStatus::kBadField, Read(Sealed(c.body), &rec));
        EXPECT_EQ(0u, rec.flags);
        EXPECT_EQ(nullptr, rec.pbMetadata);
    }
}

TEST(UploadRecord, AnInvalidRecordOrTooLittleRoomWritesNothing) {
    const Sample plain = Samples().front();
    const Bytes other = "final;/a";
    const struct {
        const char* pszWhat;
        std::function<void(UploadRecord&)> change;
    } cases[] = {
        {"an empty id", [](UploadRecord& rec) { rec.szId[0] = '\0'; }},
        {"a short id", [](UploadRecord& rec) { rec.szId[31] = '\0'; }},
        {"an unterminated id", [](UploadRecord& rec) { rec.szId[32] = 'a'; }},
        {"an upper case id", [](UploadRecord& rec) { rec.szId[0] = 'A'; }},
        {"an unknown flag", [](UploadRecord& rec) { rec.flags |= 16; }},
        {"deferred with a length", [](UploadRecord& rec) { rec.flags |= resumable::kRecordLengthDeferred; }},
        {"an offset past the length", [](UploadRecord& rec) { rec.cbOffset = rec.cbLength + 1; }},
        {"a negative creation", [](UploadRecord& rec) { rec.tCreated = -1; }},
        {"expiring before its creation", [](UploadRecord& rec) { rec.tExpires = rec.tCreated - 1; }},
        {"metadata without its bytes", [](UploadRecord& rec) { rec.pbMetadata = nullptr; }},
        {"metadata past the largest header",
         [](UploadRecord& rec) { rec.cbMetadata = std::uint32_t(resumable::kcbMaxMetadataHeader + 1); }},
        {"a concatenation without its flag",
         [&other](UploadRecord& rec) {
             rec.pbConcat = U(other);
             rec.cbConcat = std::uint32_t(other.size());
         }},
    };
    const UploadRecord good = RecordOf(plain);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        UploadRecord rec = good;
        c.change(rec);
        EXPECT_FALSE(resumable::UploadRecordValid(rec));
        std::vector<unsigned char> out(resumable::kcbMaxUploadRecord, 0xA5);
        EXPECT_EQ(0u, resumable::WriteUploadRecord(rec, out.data(), out.size()));
        EXPECT_EQ(std::vector<unsigned char>(out.size(), 0xA5), out);
    }
    const std::size_t cbRecord = resumable::UploadRecordSize(good);
    std::vector<unsigned char> out(cbRecord, 0xA5);
    EXPECT_EQ(0u, resumable::WriteUploadRecord(good, out.data(), cbRecord - 1));
    EXPECT_EQ(std::vector<unsigned char>(cbRecord, 0xA5), out);
    EXPECT_EQ(0u, resumable::WriteUploadRecord(good, nullptr, cbRecord));
    EXPECT_EQ(cbRecord, resumable::WriteUploadRecord(good, out.data(), cbRecord));
}

}  // namespace

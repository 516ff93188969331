#include "resumable/upload_record.h"

#include <cstring>

#include "platform/crc32.h"
#include "resumable/http_date.h"
#include "resumable/tus_headers.h"

namespace resumable {

namespace {

const unsigned char kabMagic[4] = {'V', 'R', 'U', 'R'};
constexpr std::uint32_t kKnownFlags = kRecordLengthDeferred | kRecordPartial | kRecordFinal;

// Field offsets.
constexpr std::size_t klVersion = 4, klSize = 8, klFlags = 12, klId = 16, klLength = 48, klOffset = 56,
                      klCreated = 64, klExpires = 72, klMetadataSize = 80, klConcatSize = 84, klTexts = 88;
static_assert(klId + kcchUploadId == klLength, "the id fills its field");
static_assert(klTexts + 4 == kcbUploadRecordFixed, "the texts, then the CRC");

void PutLe(unsigned char* pb, std::uint64_t n, int cb) {
    for (int i = 0; i < cb; ++i, n >>= 8) pb[i] = static_cast<unsigned char>(n & 0xFF);
}

std::uint64_t GetLe(const unsigned char* pb, int cb) {
    std::uint64_t n = 0;
    for (int i = cb - 1; i >= 0; --i) n = n << 8 | pb[i];
    return n;
}

// The id's length, looked for no further than its field's room.
std::size_t IdLength(const char (&szId)[kcchUploadId + 1]) {
    std::size_t cch = 0;
    while (cch <= kcchUploadId && szId[cch]) ++cch;
    return cch;
}

bool TimeValid(std::int64_t t) { return t >= 0 && t <= ktMaxHttpDate; }

bool MetadataValid(const unsigned char* pb, std::uint32_t cb) {
    if (cb == 0) return true;
    UploadMetadata meta;
    return ReadUploadMetadata(pb, cb, &meta) == MetadataStatus::kOk;
}

bool ConcatValid(std::uint32_t flags, const unsigned char* pb, std::uint32_t cb) {
    UploadConcat concat;
    const ConcatStatus status = cb == 0 ? ConcatStatus::kAbsent : ReadUploadConcat(pb, cb, &concat);
    switch (flags & (kRecordPartial | kRecordFinal)) {
    case 0: return status == ConcatStatus::kAbsent;
    case kRecordPartial: return status == ConcatStatus::kPartial;
    case kRecordFinal: return status == ConcatStatus::kFinal;
    default: return false;  // both
    }
}

}  // namespace

bool UploadRecordValid(const UploadRecord& rec) {
    if (!UploadIdValid(rec.szId, IdLength(rec.szId)) || (rec.flags & ~kKnownFlags) != 0) return false;
    if (rec.flags & kRecordLengthDeferred) {
        if (rec.cbLength != 0 || rec.cbOffset > kcbMaxUpload) return false;
    } else if (rec.cbLength > kcbMaxUpload || rec.cbOffset > rec.cbLength) {
        return false;
    }
    if (!TimeValid(rec.tCreated) || (rec.tExpires != 0 && (!TimeValid(rec.tExpires) || rec.tExpires < rec.tCreated)))
        return false;
    if ((rec.cbMetadata > 0 && !rec.pbMetadata) || (rec.cbConcat > 0 && !rec.pbConcat)) return false;
    if (rec.cbMetadata > kcbMaxMetadataHeader || rec.cbConcat > kcbMaxConcatHeader) return false;
    return MetadataValid(rec.pbMetadata, rec.cbMetadata) && ConcatValid(rec.flags, rec.pbConcat, rec.cbConcat);
}

std::size_t UploadRecordSize(const UploadRecord& rec) {
    return kcbUploadRecordFixed + std::size_t{rec.cbMetadata} + rec.cbConcat;
}

std::size_t WriteUploadRecord(const UploadRecord& rec, unsigned char* pb, std::size_t cbCapacity) {
    if (!pb || !UploadRecordValid(rec)) return 0;
    const std::size_t cbRecord = UploadRecordSize(rec);
    if (cbRecord > cbCapacity) return 0;
    std::memcpy(pb, kabMagic, sizeof kabMagic);
    PutLe(pb + klVersion, kUploadRecordVersion, 4);
    PutLe(pb + klSize, cbRecord, 4);
    PutLe(pb + klFlags, rec.flags, 4);
    std::memcpy(pb + klId, rec.szId, kcchUploadId);
    PutLe(pb + klLength, rec.cbLength, 8);
    PutLe(pb + klOffset, rec.cbOffset, 8);
    PutLe(pb + klCreated, static_cast<std::uint64_t>(rec.tCreated), 8);
    PutLe(pb + klExpires, static_cast<std::uint64_t>(rec.tExpires), 8);
    PutLe(pb + klMetadataSize, rec.cbMetadata, 4);
    PutLe(pb + klConcatSize, rec.cbConcat, 4);
    if (rec.cbMetadata > 0) std::memcpy(pb + klTexts, rec.pbMetadata, rec.cbMetadata);
    if (rec.cbConcat > 0) std::memcpy(pb + klTexts + rec.cbMetadata, rec.pbConcat, rec.cbConcat);
    PutLe(pb + cbRecord - 4, Crc32(pb, cbRecord - 4), 4);
    return cbRecord;
}

RecordStatus ReadUploadRecord(const unsigned char* pb, std::size_t cb, UploadRecord* pRec) {
    std::memset(pRec, 0, sizeof *pRec);
    if (!pb) cb = 0;
    // Tag, version and size are each judged as soon as they are whole, so
    // that any beginning of a record reads as cut short.
    if (cb < sizeof kabMagic)
        return cb == 0 || std::memcmp(pb, kabMagic, cb) == 0 ? RecordStatus::kTruncated : RecordStatus::kForeign;
    if (std::memcmp(pb, kabMagic, sizeof kabMagic) != 0) return RecordStatus::kForeign;
    if (cb < klSize) return RecordStatus::kTruncated;
    const std::uint64_t nVersion = GetLe(pb + klVersion, 4);
    if (nVersion == 0) return RecordStatus::kForeign;
    if (nVersion > kUploadRecordVersion) return RecordStatus::kNewerVersion;
    if (cb < klFlags) return RecordStatus::kTruncated;
    const std::uint64_t cbRecord = GetLe(pb + klSize, 4);
    if (cbRecord < kcbUploadRecordFixed || cbRecord > kcbMaxUploadRecord) return RecordStatus::kCorrupt;
    if (cb < cbRecord) return RecordStatus::kTruncated;
    if (cb > cbRecord) return RecordStatus::kCorrupt;
    if (Crc32(pb, cb - 4) != GetLe(pb + cb - 4, 4)) return RecordStatus::kCorrupt;

    UploadRecord rec;
    rec.flags = static_cast<std::uint32_t>(GetLe(pb + klFlags, 4));
    std::memcpy(rec.szId, pb + klId, kcchUploadId);
    rec.szId[kcchUploadId] = '\0';
    rec.cbLength = GetLe(pb + klLength, 8);
    rec.cbOffset = GetLe(pb + klOffset, 8);
    rec.tCreated = static_cast<std::int64_t>(GetLe(pb + klCreated, 8));
    rec.tExpires = static_cast<std::int64_t>(GetLe(pb + klExpires, 8));
    const std::uint64_t cbMetadata = GetLe(pb + klMetadataSize, 4), cbConcat = GetLe(pb + klConcatSize, 4);
    if (kcbUploadRecordFixed + cbMetadata + cbConcat != cbRecord) return RecordStatus::kBadField;
    rec.cbMetadata = static_cast<std::uint32_t>(cbMetadata);
    rec.cbConcat = static_cast<std::uint32_t>(cbConcat);
    rec.pbMetadata = cbMetadata > 0 ? pb + klTexts : nullptr;
    rec.pbConcat = cbConcat > 0 ? pb + klTexts + cbMetadata : nullptr;
    // A NUL inside the id field shortens the id and fails its check.
    if (!UploadRecordValid(rec)) return RecordStatus::kBadField;
    *pRec = rec;
    return RecordStatus::kOk;
}

}  // namespace resumable

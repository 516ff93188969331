// The record kept beside an upload's bytes, in a file of its own: all that a
// server of the farm needs to answer HEAD, PATCH and DELETE for the upload
// without the request that created it. A small byte format, little-endian
// whatever the build:
//
//   0   4  "VRUR"
//   4   4  format version (1)
//   8   4  the record's size in bytes, CRC included
//   12  4  flags (UploadRecordFlags)
//   16  32 the upload's id (upload_id.h)
//   48  8  length (0 while deferred)
//   56  8  offset: the bytes kept
//   64  8  created, unix seconds
//   72  8  expires, unix seconds (0: never)
//   80  4  bytes of Upload-Metadata
//   84  4  bytes of Upload-Concat
//   88  .. the Upload-Metadata header's text, then the Upload-Concat header's
//   end-4  CRC-32 of all bytes before it
//
// A record is read as input: a write cut short, a disk's damage, an edit by
// hand or a record of a later version must each be told, never taken.
// The store replaces the record whole after each change; the offset in it,
// not the size of the bytes' file, is the upload's offset, so bytes written
// past it by a PATCH that failed (a checksum that did not match) count for
// nothing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "resumable/concat_header.h"
#include "resumable/metadata_header.h"
#include "resumable/upload_id.h"

namespace resumable {

constexpr std::uint32_t kUploadRecordVersion = 1;
constexpr std::size_t kcbUploadRecordFixed = 92;
constexpr std::size_t kcbMaxUploadRecord = kcbUploadRecordFixed + kcbMaxMetadataHeader + kcbMaxConcatHeader;

enum UploadRecordFlags : std::uint32_t {
    kRecordLengthDeferred = 1,  // Upload-Defer-Length: 1 until a PATCH gives the length
    kRecordPartial = 2,         // Upload-Concat: partial
    kRecordFinal = 4,           // Upload-Concat: final;...
};

struct UploadRecord {
    char szId[kcchUploadId + 1];
    std::uint32_t flags;
    std::uint64_t cbLength;  // at most kcbMaxUpload; 0 while deferred
    std::uint64_t cbOffset;  // at most the length (kcbMaxUpload while deferred)
    std::int64_t tCreated;   // 0 .. ktMaxHttpDate, so that each can be sent as a date
    std::int64_t tExpires;   // 0, or tCreated .. ktMaxHttpDate
    // The headers' text as the client sent them, for HEAD to echo: the
    // metadata empty or valid (metadata_header.h), the concatenation empty
    // unless kRecordPartial or kRecordFinal, and then that form of it.
    // ReadUploadRecord points them into the bytes read.
    const unsigned char* pbMetadata;
    std::uint32_t cbMetadata;
    const unsigned char* pbConcat;
    std::uint32_t cbConcat;
};

// True when every field holds what its comment above says.
bool UploadRecordValid(const UploadRecord& rec);

// The record's size in bytes (kcbUploadRecordFixed and the headers' text).
std::size_t UploadRecordSize(const UploadRecord& rec);

// Writes a valid record to pb (room for cbCapacity bytes) and returns its
// size; 0, with nothing written, for a record that is not valid or does not
// fit.
std::size_t WriteUploadRecord(const UploadRecord& rec, unsigned char* pb, std::size_t cbCapacity);

enum class RecordStatus {
    kOk,
    kTruncated,     // its beginning only (an empty file included): a write cut short
    kForeign,       // not a record of this format: another tag, version 0
    kNewerVersion,  // a later version's record, for a later VARO to read
    kCorrupt,       // the size field impossible, bytes after the record, or the CRC not matching
    kBadField,      // the CRC matches but a field is not valid: an edit by hand, or a fault
};

// Reads the record in pb[0] .. pb[cb - 1], which must be the record whole
// and nothing more. For kOk *pRec holds it, its headers' text pointing
// into pb; otherwise *pRec is zeroed.
RecordStatus ReadUploadRecord(const unsigned char* pb, std::size_t cb, UploadRecord* pRec);

}  // namespace resumable

// One request of the resumable upload protocol answered: what the request's
// method and headers ask, checked against the upload's record, decides the
// status and the answer's headers. The store of uploads, the request's body
// and the hash of a chunk are the caller's, behind the small interfaces
// below, so that every rule here runs the same natively and in VARO.DLL.
#pragma once
#include <cstddef>
#include <cstdint>

#include "resumable/checksum_header.h"
#include "resumable/metadata_header.h"
#include "resumable/upload_record.h"

namespace resumable {

// Tus-Extension: what is served. Concatenation is not.
constexpr char kszTusExtensions[] =
    "creation,creation-with-upload,creation-defer-length,expiration,termination,checksum";

enum class StoreResult {
    kOk,
    kNotFound,  // no such upload, or a record that cannot be read as one
    kLocked,    // another request writes the upload now
    kDiskFull,
    kFailed,
};

// The uploads kept. Between Create or Open and Close one upload is open:
// locked against every other writer, wherever it runs.
class UploadStore {
public:
    // The record of an upload, without taking its lock (HEAD). The headers'
    // text may point into the store's memory until its next call.
    virtual StoreResult Read(const char* pszId, UploadRecord* pRec) = 0;
    // A new upload under a fresh id (written to pRec->szId), no bytes yet,
    // its record as given; it stays open for the creating request's body.
    virtual StoreResult Create(UploadRecord* pRec) = 0;
    // Takes the upload's lock and reads its record.
    virtual StoreResult Open(const char* pszId, UploadRecord* pRec) = 0;
    // Writes bytes of the open upload at their offset.
    virtual StoreResult Write(std::uint64_t cbOffset, const unsigned char* pb, std::uint32_t cb) = 0;
    // Makes the bytes written durable, then replaces the record whole.
    virtual StoreResult Keep(const UploadRecord& rec) = 0;
    // Removes the open upload, record first.
    virtual StoreResult Remove() = 0;
    // Releases the open upload's lock.
    virtual void Close() = 0;

protected:
    ~UploadStore() = default;
};

// The request's body, in pieces.
class RequestPieces {
public:
    // At most cbWant bytes at *ppb, valid until the next call; *pcb 0 when
    // the client sent no more. False when reading failed.
    virtual bool Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) = 0;

protected:
    ~RequestPieces() = default;
};

// A chunk's digest, for Upload-Checksum.
class ChunkHasher {
public:
    virtual bool Begin(ChecksumAlgorithm algorithm) = 0;
    virtual bool Data(const unsigned char* pb, std::size_t cb) = 0;
    // The digest (ChecksumDigestSize bytes) into abDigest.
    virtual bool Finish(unsigned char (&abDigest)[kcbMaxDigest]) = 0;

protected:
    ~ChunkHasher() = default;
};

// A header's value as bytes; empty for an absent header.
struct HeaderBytes {
    const unsigned char* pb = nullptr;
    std::size_t cb = 0;
};

struct TusRequest {
    HeaderBytes method;          // the request line's
    HeaderBytes methodOverride;  // X-HTTP-Method-Override, honoured on POST
    HeaderBytes tusResumable;
    HeaderBytes uploadOffset;
    HeaderBytes uploadLength;
    HeaderBytes uploadDeferLength;
    HeaderBytes uploadMetadata;
    HeaderBytes uploadChecksum;
    HeaderBytes uploadConcat;
    HeaderBytes contentType;
    HeaderBytes contentLength;  // absent: no body
    HeaderBytes id;            // the id the query names; empty: none
    HeaderBytes location;      // what a new upload's Location is, up to its id
};

struct TusSettings {
    std::uint64_t cbMaxSize = 0;             // 0: up to kcbMaxUpload
    std::int64_t tNow = 0;                   // unix seconds
    std::int64_t secondsKept = 24 * 60 * 60;  // an unfinished upload's life; 0: for ever
    std::uint32_t cbPiece = 64 * 1024;        // the body is read in pieces of this size,
    std::uint64_t cbCheckpoint = 8u << 20;   // and the record moves on after this many bytes
};

constexpr std::size_t kMaxAnswerHeaders = 12;
constexpr std::size_t kcbMaxLocationBase = 4096;
constexpr std::size_t kcbAnswerText = kcbMaxMetadataHeader + kcbMaxLocationBase + kcchUploadId + 512;

struct AnswerHeader {
    const char* pszName;
    std::uint32_t lValue, cbValue;  // in TusExchange::achText
};

// Why an answer is not a success, for the page.
enum class TusOutcome {
    kDone,
    kBadRequest,       // a header malformed or several
    kVersion,          // another protocol version
    kMethod,           // a method not served
    kMediaType,        // PATCH's body of another type
    kUnknownUpload,    // no such id (or no id, or one that names no upload)
    kExpired,
    kOffsetMismatch,
    kTooLarge,         // over MaxSize, or past the upload's length
    kLocked,
    kChecksumMismatch,
    kDiskFull,
    kStoreFailed,
    kBodyCut,          // the body ended early (what arrived is kept unless a checksum was sent)
};

// A request's answer and what the page learns of its upload. About 30 KB,
// for the heap.
struct TusExchange {
    int nStatus;
    const char* pszStatus;  // "204 No Content"
    TusOutcome outcome;
    std::uint32_t nHeaders;
    AnswerHeader aHeaders[kMaxAnswerHeaders];
    std::uint32_t cbText;
    char achText[kcbAnswerText];

    // The upload the request named or made, once its record was read.
    bool bUpload;
    char szId[kcchUploadId + 1];
    std::uint64_t cbOffset, cbLength;
    bool bLengthDeferred;
    std::int64_t tExpires;
    std::uint32_t cbMetadata;
    unsigned char abMetadata[kcbMaxMetadataHeader];

    UploadMetadata metadataRead;  // the reader's room, not on a small stack

    bool Complete() const { return bUpload && !bLengthDeferred && cbOffset == cbLength; }
};

// Answers the request into *pExchange (its earlier contents do not matter).
void AnswerTusRequest(const TusRequest& request, const TusSettings& settings, UploadStore& store,
                      RequestPieces& body, ChunkHasher& hasher, TusExchange* pExchange);

// The value of a header of the answer, or null (*pcb 0).
const char* AnswerHeaderValue(const TusExchange& exchange, const char* pszName, std::uint32_t* pcb);

}  // namespace resumable

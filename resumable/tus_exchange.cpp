#include "resumable/tus_exchange.h"

#include <cstring>

#include "resumable/http_date.h"
#include "resumable/tus_headers.h"
#include "resumable/upload_id.h"

namespace resumable {

namespace {

const char* StatusLine(int nStatus) {
    switch (nStatus) {
    case 200: return "200 OK";
    case 201: return "201 Created";
    case 204: return "204 No Content";
    case 400: return "400 Bad Request";
    case 404: return "404 Not Found";
    case 405: return "405 Method Not Allowed";
    case 409: return "409 Conflict";
    case 410: return "410 Gone";
    case 412: return "412 Precondition Failed";
    case 413: return "413 Request Entity Too Large";
    case 415: return "415 Unsupported Media Type";
    case 423: return "423 Locked";
    case 460: return "460 Checksum Mismatch";
    case 507: return "507 Insufficient Storage";
    default: return "500 Internal Server Error";
    }
}

bool Present(const HeaderBytes& header) { return header.cb != 0; }

// Writes the answer into the exchange. The text room is sized for the
// largest headers there are; a header that would not fit is left out
// rather than cut.
class Answer {
public:
    explicit Answer(TusExchange* pExchange) : m_p(pExchange) {}

    void Status(int nStatus, TusOutcome outcome) {
        m_p->nStatus = nStatus;
        m_p->pszStatus = StatusLine(nStatus);
        m_p->outcome = outcome;
    }
    void Header(const char* pszName, const void* pv, std::size_t cb) {
        if (m_p->nHeaders == kMaxAnswerHeaders || cb > kcbAnswerText - m_p->cbText) return;
        AnswerHeader& header = m_p->aHeaders[m_p->nHeaders++];
        header.pszName = pszName;
        header.lValue = m_p->cbText;
        header.cbValue = static_cast<std::uint32_t>(cb);
        if (cb) std::memcpy(m_p->achText + m_p->cbText, pv, cb);
        m_p->cbText += static_cast<std::uint32_t>(cb);
    }
    void Text(const char* pszName, const char* pszValue) { Header(pszName, pszValue, std::strlen(pszValue)); }
    void Number(const char* pszName, std::uint64_t n) {
        char ach[24];
        char* pch = ach + sizeof ach;
        do {
            *--pch = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n);
        Header(pszName, pch, static_cast<std::size_t>(ach + sizeof ach - pch));
    }
    void Date(const char* pszName, std::int64_t t) {
        char szDate[kcchHttpDate + 1];
        if (FormatHttpDate(t, szDate)) Header(pszName, szDate, kcchHttpDate);
    }
    // The fixed start of every answer.
    void Start(int nStatus, TusOutcome outcome) {
        Status(nStatus, outcome);
        Text("Tus-Resumable", kszTusVersion);
    }
    void Refuse(int nStatus, TusOutcome outcome) { Start(nStatus, outcome); }

private:
    TusExchange* m_p;
};

// What the page learns of the upload from its record.
void NoteUpload(const UploadRecord& rec, TusExchange* pExchange) {
    pExchange->bUpload = true;
    std::memcpy(pExchange->szId, rec.szId, sizeof pExchange->szId);
    pExchange->cbOffset = rec.cbOffset;
    pExchange->cbLength = rec.cbLength;
    pExchange->bLengthDeferred = (rec.flags & kRecordLengthDeferred) != 0;
    pExchange->tExpires = rec.tExpires;
    const std::uint32_t cb = rec.cbMetadata <= kcbMaxMetadataHeader ? rec.cbMetadata : 0;
    if (cb && rec.pbMetadata != pExchange->abMetadata) std::memcpy(pExchange->abMetadata, rec.pbMetadata, cb);
    pExchange->cbMetadata = cb;
}

bool Unfinished(const UploadRecord& rec) {
    return (rec.flags & kRecordLengthDeferred) != 0 || rec.cbOffset != rec.cbLength;
}

bool Expired(const UploadRecord& rec, std::int64_t tNow) { return rec.tExpires != 0 && tNow >= rec.tExpires; }

// The store's failure as the answer's status.
int StoreStatus(StoreResult result, TusOutcome* pOutcome) {
    switch (result) {
    case StoreResult::kNotFound: *pOutcome = TusOutcome::kUnknownUpload; return 404;
    case StoreResult::kLocked: *pOutcome = TusOutcome::kLocked; return 423;
    case StoreResult::kDiskFull: *pOutcome = TusOutcome::kDiskFull; return 507;
    case StoreResult::kOk:
    case StoreResult::kFailed: break;
    }
    *pOutcome = TusOutcome::kStoreFailed;
    return 500;
}

// Releases the open upload on every way out.
class OpenUpload {
public:
    explicit OpenUpload(UploadStore& store) : m_store(store) {}
    ~OpenUpload() { m_store.Close(); }
    OpenUpload(const OpenUpload&) = delete;
    OpenUpload& operator=(const OpenUpload&) = delete;

private:
    UploadStore& m_store;
};

// A body's digest as sent, or none.
struct SentChecksum {
    bool bSent = false;
    UploadChecksum checksum{};
};

// Reads the body into the open upload at rec's offset. rec's offset moves
// only over bytes the store kept durably; it is what the upload holds
// whatever the outcome.
TusOutcome WriteBody(const TusSettings& settings, UploadStore& store, RequestPieces& body, ChunkHasher& hasher,
                     std::uint64_t cbBody, const SentChecksum& sent, UploadRecord* pRec) {
    const std::uint64_t cbStart = pRec->cbOffset;
    std::uint64_t cbAt = cbStart, cbKept = cbStart;
    if (sent.bSent && !hasher.Begin(sent.checksum.algorithm)) return TusOutcome::kStoreFailed;
    const std::uint32_t cbPiece = settings.cbPiece ? settings.cbPiece : 64 * 1024;
    bool bCut = false;
    for (std::uint64_t cbLeft = cbBody; cbLeft > 0;) {
        const std::uint32_t cbWant = cbLeft < cbPiece ? static_cast<std::uint32_t>(cbLeft) : cbPiece;
        const unsigned char* pb = nullptr;
        std::uint32_t cb = 0;
        if (!body.Next(cbWant, &pb, &cb) || cb == 0) {
            bCut = true;
            break;
        }
        if (cb > cbWant) cb = cbWant;  // never past the length the request stated
        if (sent.bSent && !hasher.Data(pb, cb)) return TusOutcome::kStoreFailed;
        const StoreResult written = store.Write(cbAt, pb, cb);
        if (written != StoreResult::kOk) {
            pRec->cbOffset = cbKept;
            return written == StoreResult::kDiskFull ? TusOutcome::kDiskFull : TusOutcome::kStoreFailed;
        }
        cbAt += cb;
        cbLeft -= cb;
        // Unchecked bytes count as they arrive: a long body cut off keeps
        // what came. Checked ones count only once their digest matched.
        if (!sent.bSent && settings.cbCheckpoint && cbLeft > 0 && cbAt - cbKept >= settings.cbCheckpoint) {
            pRec->cbOffset = cbAt;
            const StoreResult kept = store.Keep(*pRec);
            if (kept != StoreResult::kOk) {
                pRec->cbOffset = cbKept;
                return kept == StoreResult::kDiskFull ? TusOutcome::kDiskFull : TusOutcome::kStoreFailed;
            }
            cbKept = cbAt;
        }
    }
    if (sent.bSent) {
        if (bCut) {
            pRec->cbOffset = cbStart;
            return TusOutcome::kBodyCut;
        }
        unsigned char abDigest[kcbMaxDigest];
        if (!hasher.Finish(abDigest)) return TusOutcome::kStoreFailed;
        if (std::memcmp(abDigest, sent.checksum.abDigest, sent.checksum.cbDigest) != 0) {
            pRec->cbOffset = cbStart;
            return TusOutcome::kChecksumMismatch;
        }
    }
    pRec->cbOffset = cbAt;
    const StoreResult kept = store.Keep(*pRec);
    if (kept != StoreResult::kOk) {
        pRec->cbOffset = cbKept;
        return kept == StoreResult::kDiskFull ? TusOutcome::kDiskFull : TusOutcome::kStoreFailed;
    }
    return bCut ? TusOutcome::kBodyCut : TusOutcome::kDone;
}

// The status a body's outcome is answered with, given the success's own.
int BodyStatus(TusOutcome outcome, int nSuccess, bool bChecksum) {
    switch (outcome) {
    case TusOutcome::kDone: return nSuccess;
    // Without a checksum what arrived is kept, and the answer's offset says
    // how much; with one nothing was, as if the digest had not matched.
    case TusOutcome::kBodyCut: return bChecksum ? 460 : nSuccess;
    case TusOutcome::kChecksumMismatch: return 460;
    case TusOutcome::kDiskFull: return 507;
    default: return 500;
    }
}

class Exchange {
public:
    Exchange(const TusRequest& request, const TusSettings& settings, UploadStore& store, RequestPieces& body,
             ChunkHasher& hasher, TusExchange* pExchange)
        : m_request(request), m_settings(settings), m_store(store), m_body(body), m_hasher(hasher),
          m_p(pExchange), m_answer(pExchange) {
        m_tNow = settings.tNow < 0 ? 0 : settings.tNow > ktMaxHttpDate ? ktMaxHttpDate : settings.tNow;
        m_cbMax = settings.cbMaxSize && settings.cbMaxSize < kcbMaxUpload ? settings.cbMaxSize : kcbMaxUpload;
    }

    void Run() {
        const NumberStatus body = ReadUploadNumber(m_request.contentLength.pb, m_request.contentLength.cb, &m_cbBody);
        if (body == NumberStatus::kMalformed) return m_answer.Refuse(400, TusOutcome::kBadRequest);
        if (body == NumberStatus::kTooLarge) return m_answer.Refuse(413, TusOutcome::kTooLarge);
        TusMethod method = MethodFromToken(m_request.method.pb, m_request.method.cb);
        if (method == TusMethod::kPost) {
            TusMethod overridden = TusMethod::kOther;
            switch (ReadMethodOverride(m_request.methodOverride.pb, m_request.methodOverride.cb, &overridden)) {
            case OverrideStatus::kOk: method = overridden; break;
            case OverrideStatus::kAbsent: break;
            case OverrideStatus::kMalformed: return m_answer.Refuse(400, TusOutcome::kBadRequest);
            }
        }
        if (method == TusMethod::kOptions) return Options();
        if (ReadTusResumable(m_request.tusResumable.pb, m_request.tusResumable.cb) != VersionStatus::kSupported) {
            m_answer.Start(412, TusOutcome::kVersion);
            m_answer.Text("Tus-Version", kszTusVersion);
            return;
        }
        switch (method) {
        case TusMethod::kPost: return Create();
        case TusMethod::kHead: return Head();
        case TusMethod::kPatch: return Patch();
        case TusMethod::kDelete: return Delete();
        default:
            m_answer.Start(405, TusOutcome::kMethod);
            m_answer.Text("Allow", "OPTIONS, HEAD, POST, PATCH, DELETE");
            return;
        }
    }

private:
    void Options() {
        m_answer.Start(204, TusOutcome::kDone);
        m_answer.Text("Tus-Version", kszTusVersion);
        m_answer.Text("Tus-Extension", kszTusExtensions);
        if (m_settings.cbMaxSize) m_answer.Number("Tus-Max-Size", m_cbMax);
        m_answer.Text("Tus-Checksum-Algorithm", kszChecksumAlgorithms);
    }

    // Upload-Checksum, when sent; false when it cannot be used.
    bool ReadChecksum(SentChecksum* pSent) {
        const ChecksumStatus status =
            ReadUploadChecksum(m_request.uploadChecksum.pb, m_request.uploadChecksum.cb, &pSent->checksum);
        pSent->bSent = status == ChecksumStatus::kOk;
        return status == ChecksumStatus::kOk || status == ChecksumStatus::kAbsent;
    }

    bool IdNamed() const {
        return UploadIdValid(reinterpret_cast<const char*>(m_request.id.pb), m_request.id.cb);
    }
    void CopyId(char (&szId)[kcchUploadId + 1]) const {
        std::memcpy(szId, m_request.id.pb, kcchUploadId);
        szId[kcchUploadId] = '\0';
    }

    void FailStore(StoreResult result) {
        TusOutcome outcome;
        const int nStatus = StoreStatus(result, &outcome);
        m_answer.Refuse(nStatus, outcome);
    }

    // An expired upload is removed when met, unless a writer holds it.
    void Gone(bool bOpen, const char* pszId) {
        if (bOpen) {
            m_store.Remove();
        } else {
            UploadRecord rec;
            if (m_store.Open(pszId, &rec) == StoreResult::kOk) {
                OpenUpload open(m_store);
                m_store.Remove();
            }
        }
        m_p->bUpload = false;
        m_answer.Refuse(410, TusOutcome::kExpired);
    }

    void Offsets(const UploadRecord& rec) {
        m_answer.Number("Upload-Offset", rec.cbOffset);
        if (Unfinished(rec) && rec.tExpires) m_answer.Date("Upload-Expires", rec.tExpires);
    }

    void Create() {
        // Concatenation is not served: an upload made of others cannot be
        // made as a plain one.
        if (Present(m_request.uploadConcat)) return m_answer.Refuse(400, TusOutcome::kBadRequest);
        std::uint64_t cbLength = 0;
        const NumberStatus length = ReadUploadNumber(m_request.uploadLength.pb, m_request.uploadLength.cb, &cbLength);
        const DeferStatus defer = ReadUploadDeferLength(m_request.uploadDeferLength.pb, m_request.uploadDeferLength.cb);
        if (length == NumberStatus::kMalformed || defer == DeferStatus::kMalformed ||
            (length == NumberStatus::kAbsent) == (defer == DeferStatus::kAbsent))
            return m_answer.Refuse(400, TusOutcome::kBadRequest);
        const bool bDeferred = defer == DeferStatus::kDeferred;
        if (length == NumberStatus::kTooLarge || (!bDeferred && cbLength > m_cbMax))
            return m_answer.Refuse(413, TusOutcome::kTooLarge);
        const MetadataStatus meta =
            ReadUploadMetadata(m_request.uploadMetadata.pb, m_request.uploadMetadata.cb, &m_p->metadataRead);
        if (meta != MetadataStatus::kOk && meta != MetadataStatus::kAbsent)
            return m_answer.Refuse(400, TusOutcome::kBadRequest);
        SentChecksum sent;
        if (!ReadChecksum(&sent)) return m_answer.Refuse(400, TusOutcome::kBadRequest);
        const std::uint64_t cbBody = m_cbBody;
        if (cbBody) {
            if (!IsOffsetOctetStream(m_request.contentType.pb, m_request.contentType.cb))
                return m_answer.Refuse(415, TusOutcome::kMediaType);
            if (cbBody > (bDeferred ? m_cbMax : cbLength)) return m_answer.Refuse(413, TusOutcome::kTooLarge);
        }
        if (m_request.location.cb > kcbMaxLocationBase) return m_answer.Refuse(500, TusOutcome::kStoreFailed);

        UploadRecord rec{};
        rec.flags = bDeferred ? std::uint32_t{kRecordLengthDeferred} : 0u;
        rec.cbLength = bDeferred ? 0 : cbLength;
        rec.tCreated = m_tNow;
        if (m_settings.secondsKept > 0)
            rec.tExpires = m_settings.secondsKept < ktMaxHttpDate - m_tNow ? m_tNow + m_settings.secondsKept
                                                                             : ktMaxHttpDate;
        rec.pbMetadata = m_request.uploadMetadata.pb;
        rec.cbMetadata = static_cast<std::uint32_t>(m_request.uploadMetadata.cb);
        const StoreResult created = m_store.Create(&rec);
        if (created != StoreResult::kOk) return FailStore(created == StoreResult::kLocked ? StoreResult::kFailed : created);
        OpenUpload open(m_store);
        TusOutcome outcome = TusOutcome::kDone;
        if (cbBody) outcome = WriteBody(m_settings, m_store, m_body, m_hasher, cbBody, sent, &rec);
        NoteUpload(rec, m_p);
        m_answer.Start(BodyStatus(outcome, 201, sent.bSent), outcome);
        // The upload exists whatever became of its first bytes: the client
        // learns where, to ask how much it holds.
        if (m_request.location.cb + kcchUploadId <= kcbAnswerText) {
            char* pch = m_p->achText + m_p->cbText;
            if (m_request.location.cb) std::memcpy(pch, m_request.location.pb, m_request.location.cb);
            std::memcpy(pch + m_request.location.cb, rec.szId, kcchUploadId);
            m_answer.Header("Location", pch, m_request.location.cb + kcchUploadId);
        }
        Offsets(rec);
    }

    void Head() {
        if (!IdNamed()) return m_answer.Refuse(404, TusOutcome::kUnknownUpload);
        char szId[kcchUploadId + 1];
        CopyId(szId);
        UploadRecord rec;
        const StoreResult read = m_store.Read(szId, &rec);
        if (read != StoreResult::kOk) return FailStore(read == StoreResult::kLocked ? StoreResult::kFailed : read);
        if (Expired(rec, m_tNow)) return Gone(false, szId);
        NoteUpload(rec, m_p);
        m_answer.Start(200, TusOutcome::kDone);
        Offsets(rec);
        if (rec.flags & kRecordLengthDeferred) m_answer.Text("Upload-Defer-Length", "1");
        else m_answer.Number("Upload-Length", rec.cbLength);
        if (rec.cbMetadata) m_answer.Header("Upload-Metadata", rec.pbMetadata, rec.cbMetadata);
        m_answer.Text("Cache-Control", "no-store");
    }

    void Patch() {
        if (!IsOffsetOctetStream(m_request.contentType.pb, m_request.contentType.cb))
            return m_answer.Refuse(415, TusOutcome::kMediaType);
        std::uint64_t cbOffset = 0, cbLength = 0;
        if (ReadUploadNumber(m_request.uploadOffset.pb, m_request.uploadOffset.cb, &cbOffset) != NumberStatus::kOk)
            return m_answer.Refuse(400, TusOutcome::kBadRequest);
        const NumberStatus length = ReadUploadNumber(m_request.uploadLength.pb, m_request.uploadLength.cb, &cbLength);
        if (length == NumberStatus::kMalformed) return m_answer.Refuse(400, TusOutcome::kBadRequest);
        if (length == NumberStatus::kTooLarge) return m_answer.Refuse(413, TusOutcome::kTooLarge);
        SentChecksum sent;
        if (!ReadChecksum(&sent)) return m_answer.Refuse(400, TusOutcome::kBadRequest);
        if (!IdNamed()) return m_answer.Refuse(404, TusOutcome::kUnknownUpload);
        char szId[kcchUploadId + 1];
        CopyId(szId);
        UploadRecord rec;
        const StoreResult opened = m_store.Open(szId, &rec);
        if (opened != StoreResult::kOk) return FailStore(opened);
        OpenUpload open(m_store);
        if (Expired(rec, m_tNow)) return Gone(true, szId);
        NoteUpload(rec, m_p);
        if (length == NumberStatus::kOk) {
            if (rec.flags & kRecordLengthDeferred) {
                if (cbLength > m_cbMax) return m_answer.Refuse(413, TusOutcome::kTooLarge);
                if (cbLength < rec.cbOffset) return m_answer.Refuse(400, TusOutcome::kBadRequest);
            } else if (cbLength != rec.cbLength) {
                return m_answer.Refuse(400, TusOutcome::kBadRequest);  // a length is set once
            }
        }
        if (cbOffset != rec.cbOffset) {
            m_answer.Start(409, TusOutcome::kOffsetMismatch);
            m_answer.Number("Upload-Offset", rec.cbOffset);
            return;
        }
        const bool bDeferred = (rec.flags & kRecordLengthDeferred) && length != NumberStatus::kOk;
        const std::uint64_t cbEnd = bDeferred ? m_cbMax : length == NumberStatus::kOk ? cbLength : rec.cbLength;
        if (m_cbBody > (cbEnd > cbOffset ? cbEnd - cbOffset : 0)) return m_answer.Refuse(413, TusOutcome::kTooLarge);
        if (length == NumberStatus::kOk) {
            rec.flags &= ~static_cast<std::uint32_t>(kRecordLengthDeferred);
            rec.cbLength = cbLength;
        }
        // The record keeps what the store read until the first Keep; the
        // metadata is the exchange's copy from here.
        rec.pbMetadata = m_p->abMetadata;
        const TusOutcome outcome = WriteBody(m_settings, m_store, m_body, m_hasher, m_cbBody, sent, &rec);
        if (outcome == TusOutcome::kChecksumMismatch || (outcome == TusOutcome::kBodyCut && sent.bSent)) {
            // Nothing of the chunk counts, the length given with it neither.
            m_p->cbOffset = cbOffset;
        } else {
            NoteUpload(rec, m_p);
        }
        m_answer.Start(BodyStatus(outcome, 204, sent.bSent), outcome);
        m_answer.Number("Upload-Offset", m_p->cbOffset);
        if (!m_p->Complete() && rec.tExpires) m_answer.Date("Upload-Expires", rec.tExpires);
    }

    void Delete() {
        if (!IdNamed()) return m_answer.Refuse(404, TusOutcome::kUnknownUpload);
        char szId[kcchUploadId + 1];
        CopyId(szId);
        UploadRecord rec;
        const StoreResult opened = m_store.Open(szId, &rec);
        if (opened != StoreResult::kOk) return FailStore(opened);
        OpenUpload open(m_store);
        const StoreResult removed = m_store.Remove();
        if (removed != StoreResult::kOk) return FailStore(removed == StoreResult::kNotFound ? StoreResult::kFailed : removed);
        m_answer.Start(204, TusOutcome::kDone);
    }

    const TusRequest& m_request;
    const TusSettings& m_settings;
    UploadStore& m_store;
    RequestPieces& m_body;
    ChunkHasher& m_hasher;
    TusExchange* m_p;
    Answer m_answer;
    std::int64_t m_tNow;
    std::uint64_t m_cbMax;
    std::uint64_t m_cbBody = 0;  // the body's length as the request states it
};

}  // namespace

void AnswerTusRequest(const TusRequest& request, const TusSettings& settings, UploadStore& store,
                      RequestPieces& body, ChunkHasher& hasher, TusExchange* pExchange) {
    pExchange->nStatus = 0;
    pExchange->pszStatus = nullptr;
    pExchange->outcome = TusOutcome::kDone;
    pExchange->nHeaders = 0;
    pExchange->cbText = 0;
    pExchange->bUpload = false;
    pExchange->szId[0] = '\0';
    pExchange->cbOffset = pExchange->cbLength = 0;
    pExchange->bLengthDeferred = false;
    pExchange->tExpires = 0;
    pExchange->cbMetadata = 0;
    Exchange exchange(request, settings, store, body, hasher, pExchange);
    exchange.Run();
}

const char* AnswerHeaderValue(const TusExchange& exchange, const char* pszName, std::uint32_t* pcb) {
    *pcb = 0;
    for (std::uint32_t i = 0; i < exchange.nHeaders; ++i) {
        const AnswerHeader& header = exchange.aHeaders[i];
        if (std::strcmp(header.pszName, pszName) == 0) {
            *pcb = header.cbValue;
            return exchange.achText + header.lValue;
        }
    }
    return nullptr;
}

}  // namespace resumable

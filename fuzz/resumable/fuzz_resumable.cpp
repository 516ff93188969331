// libFuzzer target for the resumable core (host, clang, ASan+UBSan). Input:
// a header value, or a record. Every reader takes the whole input, and what
// each accepts must hold together:
//   - base64 that decodes encodes back to the same text (one spelling);
//   - an offset or length prints back as its digits without leading zeros;
//   - metadata pairs written back without blanks read back as the same
//     pairs, their keys visible ASCII and unique;
//   - a checksum is its algorithm's name and its digest in base64, exactly;
//   - a final concatenation is "final;" and its URLs joined by spaces;
//   - a metadata value's text has no more units than bytes, no control
//     character and no lone surrogate, whatever the room given;
//   - only 32 lower case hex digits are an id, and an id made of the
//     input's first bytes is one;
//   - a date written of the input's first 8 bytes reads back as that time;
//   - the record, read as it is and with its size field and CRC made right
//     (so that its fields' checks are reached): a record read writes back
//     to the same bytes;
//   - a request made of the input's lines, answered against a store holding
//     one upload: a status the protocol has, the upload closed again, its
//     record valid, its offset never past the bytes written or its length,
//     nothing read past the body's stated length, and the answer's offset
//     the page's.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crc32.h"
#include "resumable/base64.h"
#include "resumable/checksum_header.h"
#include "resumable/concat_header.h"
#include "resumable/http_date.h"
#include "resumable/metadata_header.h"
#include "resumable/metadata_text.h"
#include "resumable/tus_exchange.h"
#include "resumable/tus_headers.h"
#include "resumable/upload_id.h"
#include "resumable/upload_record.h"

using namespace resumable;

namespace {

void Check(bool bCondition, const char* pszWhat) {
    if (!bCondition) {
        std::fprintf(stderr, "resumable core disagrees: %s\n", pszWhat);
        std::abort();
    }
}

using Bytes = std::string;

const unsigned char* U(const Bytes& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

Bytes Base64(const unsigned char* pb, std::size_t cb) {
    static const char kszAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes text;
    for (std::size_t i = 0; i < cb; i += 3) {
        const std::size_t n = cb - i < 3 ? cb - i : 3;
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 3; ++k) w = w << 8 | (k < n ? pb[i + k] : 0);
        for (std::size_t k = 0; k < 4; ++k) text += k <= n ? kszAlphabet[w >> (18 - 6 * k) & 0x3F] : '=';
    }
    return text;
}

void CheckBase64(const Bytes& input) {
    std::vector<unsigned char> out(Base64DecodedMax(input.size()) + 1);
    std::size_t cb = 0;
    if (DecodeBase64(U(input), input.size(), out.data(), &cb)) Check(Base64(out.data(), cb) == input, "base64 round trip");
    else Check(cb == 0, "nothing decoded from a refusal");
}

void CheckNumber(const Bytes& input) {
    std::uint64_t n = 1;
    const NumberStatus status = ReadUploadNumber(U(input), input.size(), &n);
    if (status != NumberStatus::kOk) {
        Check(n == 0, "no number from a refusal");
        return;
    }
    Check(n <= kcbMaxUpload, "a number within the largest");
    std::size_t l = 0;
    while (l + 1 < input.size() && input[l] == '0') ++l;
    Check(std::to_string(n) == input.substr(l), "a number prints back as its digits");
}

void CheckMetadata(const Bytes& input) {
    static UploadMetadata meta, again;
    if (ReadUploadMetadata(U(input), input.size(), &meta) != MetadataStatus::kOk) {
        Check(meta.nPairs == 0, "no pairs from a refusal");
        return;
    }
    Check(meta.nPairs >= 1 && meta.nPairs <= kMaxMetadataPairs && meta.cbText <= input.size(), "pairs within bounds");
    Bytes canonical;
    for (std::uint32_t i = 0; i < meta.nPairs; ++i) {
        const MetadataPair& pair = meta.aPairs[i];
        Check(pair.cbKey > 0, "a key");
        for (std::uint32_t k = 0; k < pair.cbKey; ++k) {
            const unsigned char ch = meta.Key(pair)[k];
            Check(ch > 0x20 && ch < 0x7F && ch != ',', "a key of visible ASCII");
        }
        Check(FindMetadata(meta, meta.Key(pair), pair.cbKey) == &pair, "each key found as itself, once");
        canonical += (i ? "," : "") + Bytes(reinterpret_cast<const char*>(meta.Key(pair)), pair.cbKey);
        if (pair.cbValue) canonical += " " + Base64(meta.Value(pair), pair.cbValue);
    }
    Check(ReadUploadMetadata(U(canonical), canonical.size(), &again) == MetadataStatus::kOk &&
              again.nPairs == meta.nPairs && again.cbText == meta.cbText,
          "metadata written back reads back");
    for (std::uint32_t i = 0; i < meta.nPairs; ++i) {
        const MetadataPair &a = meta.aPairs[i], &b = again.aPairs[i];
        Check(a.cbKey == b.cbKey && a.cbValue == b.cbValue && std::memcmp(meta.Key(a), again.Key(b), a.cbKey) == 0 &&
                  std::memcmp(meta.Value(a), again.Value(b), a.cbValue) == 0,
              "the same pairs");
    }
}

void CheckChecksum(const Bytes& input) {
    UploadChecksum checksum;
    const ChecksumStatus status = ReadUploadChecksum(U(input), input.size(), &checksum);
    if (status != ChecksumStatus::kOk) {
        Check(checksum.cbDigest == 0, "no digest from a refusal");
        return;
    }
    Check(checksum.cbDigest == ChecksumDigestSize(checksum.algorithm), "a digest of its algorithm's size");
    Check(ChecksumAlgorithmName(checksum.algorithm) + Bytes(" ") + Base64(checksum.abDigest, checksum.cbDigest) == input,
          "a checksum is its name and its digest");
}

void CheckConcat(const Bytes& input) {
    static UploadConcat concat;
    const ConcatStatus status = ReadUploadConcat(U(input), input.size(), &concat);
    if (status == ConcatStatus::kPartial) Check(input == "partial" && concat.nUrls == 0, "partial");
    if (status != ConcatStatus::kFinal) {
        Check(concat.nUrls == 0, "no URLs but for a final concatenation");
        return;
    }
    Check(concat.nUrls >= 1 && concat.nUrls <= kMaxConcatParts, "URLs within bounds");
    Bytes joined = "final;";
    for (std::uint32_t i = 0; i < concat.nUrls; ++i) {
        const ConcatUrl& url = concat.aUrls[i];
        Check(url.cb > 0 && url.l + url.cb <= input.size(), "a URL within the header");
        const Bytes text = input.substr(url.l, url.cb);
        Check(text.find(' ') == Bytes::npos, "a URL without spaces");
        joined += (i ? " " : "") + text;
    }
    Check(joined == input, "a final concatenation is its URLs");
}

void CheckSimpleHeaders(const Bytes& input) {
    const VersionStatus version = ReadTusResumable(U(input), input.size());
    Check((version == VersionStatus::kSupported) == (input == "1.0.0"), "only 1.0.0");
    Check((ReadUploadDeferLength(U(input), input.size()) == DeferStatus::kDeferred) == (input == "1"), "only 1");
    TusMethod method;
    const OverrideStatus status = ReadMethodOverride(U(input), input.size(), &method);
    if (status == OverrideStatus::kOk) {
        Check(input.size() <= kcchMaxMethod && method == MethodFromToken(U(input), input.size()), "a method token");
        Check(input.find_first_of(" \t\r\n,;/") == Bytes::npos, "a token without separators");
    }
    if (IsOffsetOctetStream(U(input), input.size())) {
        Bytes lower = input;
        for (char& ch : lower) ch = ch >= 'A' && ch <= 'Z' ? char(ch + 32) : ch;
        Check(lower == "application/offset+octet-stream", "the body type");
    }
}

void CheckText(const Bytes& input) {
    const std::size_t cch = DecodeMetadataText(U(input), input.size(), nullptr, 0);
    Check(cch <= input.size(), "no more units than bytes");
    std::vector<char16_t> text(cch + 1, u'#');
    Check(DecodeMetadataText(U(input), input.size(), text.data(), cch) == cch && text[cch] == u'#',
          "the text in the room its length asks");
    for (std::size_t i = 0; i < cch; ++i) {
        const char16_t ch = text[i];
        Check(ch >= 0x20 && ch != 0x7F, "no control character");
        if (ch >= 0xD800 && ch <= 0xDBFF) {
            Check(i + 1 < cch && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF, "a pair whole");
            ++i;
        } else {
            Check(ch < 0xDC00 || ch > 0xDFFF, "no lone low surrogate");
        }
    }
    // A smaller room gets the same beginning.
    const std::size_t cchRoom = cch / 2;
    std::vector<char16_t> part(cchRoom + 1, u'#');
    Check(DecodeMetadataText(U(input), input.size(), part.data(), cchRoom) == cch && part[cchRoom] == u'#' &&
              std::equal(part.begin(), part.begin() + cchRoom, text.begin()),
          "a smaller room gets the beginning");
}

void CheckId(const Bytes& input) {
    bool bHex = input.size() == kcchUploadId;
    for (char ch : input) bHex = bHex && ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'));
    Check(UploadIdValid(input.data(), input.size()) == bHex, "an id is 32 lower case hex digits");
    const std::u16string wide(input.begin(), input.end());
    Check(UploadIdValid(wide.data(), wide.size()) == bHex, "alike in UTF-16");
    if (input.size() >= kcbUploadIdRandom) {
        unsigned char ab[kcbUploadIdRandom];
        std::memcpy(ab, input.data(), sizeof ab);
        char szId[kcchUploadId + 1];
        MakeUploadId(ab, szId);
        Check(UploadIdValid(szId, std::strlen(szId)), "an id made is valid");
    }
}

// Days from 1970-01-01 to a Gregorian date: the inverse of the date's own
// reckoning, counted another way.
std::int64_t DaysOfDate(std::int64_t nYear, int nMonth, int nDay) {
    nYear -= nMonth <= 2;
    const std::int64_t nEra = nYear / 400;
    const std::int64_t nYearOfEra = nYear - nEra * 400;
    const std::int64_t nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const std::int64_t nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    return nEra * 146097 + nDayOfEra - 719468;
}

int Number(const char* pch, int cch) {
    int n = 0;
    for (int i = 0; i < cch; ++i) {
        Check(pch[i] >= '0' && pch[i] <= '9', "a date's digits");
        n = n * 10 + (pch[i] - '0');
    }
    return n;
}

void CheckDate(std::int64_t t) {
    static const char kszMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static const char kszDays[] = "ThuFriSatSunMonTueWed";
    char szDate[kcchHttpDate + 1];
    if (!FormatHttpDate(t, szDate)) {
        Check((t < 0 || t > ktMaxHttpDate) && szDate[0] == '\0', "a date refused only outside its range");
        return;
    }
    Check(std::strlen(szDate) == kcchHttpDate && std::memcmp(szDate + 25, " GMT", 4) == 0, "the date's form");
    const char* pchMonth = std::strstr(kszMonths, std::string(szDate + 8, 3).c_str());
    Check(pchMonth && (pchMonth - kszMonths) % 3 == 0, "a month's name");
    const std::int64_t nDays = DaysOfDate(Number(szDate + 12, 4), int(pchMonth - kszMonths) / 3 + 1, Number(szDate + 5, 2));
    Check(std::memcmp(szDate, kszDays + 3 * (nDays % 7), 3) == 0, "the day of the week");
    Check(nDays * 86400 + Number(szDate + 17, 2) * 3600 + Number(szDate + 20, 2) * 60 + Number(szDate + 23, 2) == t,
          "a date reads back as its time");
}

void CheckRecord(const unsigned char* pb, std::size_t cb) {
    UploadRecord rec;
    if (ReadUploadRecord(pb, cb, &rec) != RecordStatus::kOk) return;
    Check(UploadRecordValid(rec) && UploadRecordSize(rec) == cb, "a record read is valid");
    std::vector<unsigned char> out(cb);
    Check(WriteUploadRecord(rec, out.data(), out.size()) == cb && std::memcmp(out.data(), pb, cb) == 0,
          "a record read writes back to its bytes");
}

// One upload in memory, as the exchange's store.
class FuzzStore : public UploadStore {
public:
    static constexpr char kszId[] = "0123456789abcdef0123456789abcdef";
    Bytes record, data;
    bool bExists = true, bOpen = false, bLocked = false;
    bool bFullDisk = false;
    Bytes read;

    StoreResult Read(const char* pszId, UploadRecord* pRec) override {
        if (!bExists || std::strcmp(pszId, kszId) != 0) return StoreResult::kNotFound;
        read = record;
        return ReadUploadRecord(U(read), read.size(), pRec) == RecordStatus::kOk ? StoreResult::kOk
                                                                                 : StoreResult::kNotFound;
    }
    StoreResult Create(UploadRecord* pRec) override {
        Check(!bOpen, "created while an upload was open");
        std::memcpy(pRec->szId, kszId, sizeof kszId);
        bExists = bOpen = true;
        data.clear();
        return Store(*pRec);
    }
    StoreResult Open(const char* pszId, UploadRecord* pRec) override {
        Check(!bOpen, "opened twice");
        if (bLocked && bExists) return StoreResult::kLocked;
        const StoreResult result = Read(pszId, pRec);
        bOpen = result == StoreResult::kOk;
        return result;
    }
    StoreResult Write(std::uint64_t cbOffset, const unsigned char* pb, std::uint32_t cb) override {
        Check(bOpen, "written while closed");
        if (bFullDisk && cbOffset > 20) return StoreResult::kDiskFull;
        if (data.size() < cbOffset + cb) data.resize(cbOffset + cb);
        data.replace(cbOffset, cb, reinterpret_cast<const char*>(pb), cb);
        return StoreResult::kOk;
    }
    StoreResult Keep(const UploadRecord& rec) override {
        Check(bOpen, "kept while closed");
        Check(rec.cbOffset <= data.size(), "a record promised bytes never written");
        return Store(rec);
    }
    StoreResult Remove() override {
        Check(bOpen, "removed while closed");
        bExists = false;
        return StoreResult::kOk;
    }
    void Close() override {
        Check(bOpen, "closed while closed");
        bOpen = false;
    }

private:
    StoreResult Store(const UploadRecord& rec) {
        unsigned char ab[kcbMaxUploadRecord];
        const std::size_t cb = WriteUploadRecord(rec, ab, sizeof ab);
        Check(cb != 0, "the exchange kept a record that is not valid");
        record.assign(reinterpret_cast<char*>(ab), cb);
        return StoreResult::kOk;
    }
};

class FuzzBody : public RequestPieces {
public:
    explicit FuzzBody(const Bytes& bytes) : m_bytes(bytes) {}
    std::size_t cbRead = 0;
    bool Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) override {
        const std::size_t cb = std::min<std::size_t>({cbWant, m_bytes.size() - cbRead, 5});
        *ppb = U(m_bytes) + cbRead;
        *pcb = static_cast<std::uint32_t>(cb);
        cbRead += cb;
        return true;
    }

private:
    const Bytes& m_bytes;
};

// Digests that match when the body's first byte is even.
class FuzzHasher : public ChunkHasher {
public:
    const Bytes* pSent = nullptr;
    bool bFirst = true, bEven = false;
    bool Begin(ChecksumAlgorithm) override { return bFirst = true; }
    bool Data(const unsigned char* pb, std::size_t cb) override {
        if (bFirst && cb) bEven = pb[0] % 2 == 0, bFirst = false;
        return true;
    }
    bool Finish(unsigned char (&abDigest)[resumable::kcbMaxDigest]) override {
        UploadChecksum checksum;
        std::memset(abDigest, 0, sizeof abDigest);
        if (bEven && pSent && ReadUploadChecksum(U(*pSent), pSent->size(), &checksum) == ChecksumStatus::kOk)
            std::memcpy(abDigest, checksum.abDigest, checksum.cbDigest);
        return true;
    }
};

// The input's lines are the request's headers in TusRequest's order, the
// rest its body; the first byte's bits choose the upload's state.
void CheckExchange(const Bytes& input) {
    if (input.empty()) return;
    const unsigned char flags = static_cast<unsigned char>(input[0]);
    std::vector<Bytes> lines;
    std::size_t l = 1;
    for (int i = 0; i < 11; ++i) {
        const std::size_t e = input.find('\n', l);
        if (e == Bytes::npos) {
            lines.push_back(l <= input.size() ? input.substr(l) : Bytes());
            l = input.size() + 1;
        } else {
            lines.push_back(input.substr(l, e - l));
            l = e + 1;
        }
    }
    const Bytes body = l <= input.size() ? input.substr(l) : Bytes();
    FuzzStore store;
    UploadRecord rec{};
    std::memcpy(rec.szId, FuzzStore::kszId, sizeof FuzzStore::kszId);
    rec.flags = flags & 1 ? std::uint32_t{kRecordLengthDeferred} : 0u;
    rec.cbLength = flags & 1 ? 0 : 40;
    rec.cbOffset = flags & 2 ? 0 : 10;
    rec.tCreated = 1000;
    rec.tExpires = flags & 4 ? 1000 : 5000;
    store.data.assign(10, 'x');
    unsigned char ab[kcbMaxUploadRecord];
    store.record.assign(reinterpret_cast<char*>(ab), WriteUploadRecord(rec, ab, sizeof ab));
    store.bExists = !(flags & 8);
    store.bLocked = flags & 16;
    store.bFullDisk = flags & 32;
    TusRequest request;
    HeaderBytes* fields[] = {&request.method,         &request.methodOverride, &request.tusResumable,
                             &request.uploadOffset,   &request.uploadLength,   &request.uploadDeferLength,
                             &request.uploadMetadata, &request.uploadChecksum, &request.contentType,
                             &request.contentLength,  &request.id};
    for (int i = 0; i < 11; ++i) *fields[i] = HeaderBytes{U(lines[i]), lines[i].size()};
    static const Bytes kLocation = "http://h/p?id=";
    request.location = {U(kLocation), kLocation.size()};
    TusSettings settings;
    settings.tNow = 2000;
    settings.cbMaxSize = flags & 64 ? 30 : 0;
    settings.cbPiece = 7;
    settings.cbCheckpoint = 11;
    FuzzBody pieces(body);
    FuzzHasher hasher;
    hasher.pSent = &lines[7];
    std::vector<unsigned char> room(sizeof(TusExchange));
    auto* pExchange = reinterpret_cast<TusExchange*>(room.data());
    AnswerTusRequest(request, settings, store, pieces, hasher, pExchange);
    static const int kStatuses[] = {200, 201, 204, 400, 404, 405, 409, 410, 412, 413, 415, 423, 460, 500, 507};
    Check(std::find(std::begin(kStatuses), std::end(kStatuses), pExchange->nStatus) != std::end(kStatuses),
          "a status the protocol has not");
    Check(pExchange->pszStatus && std::atoi(pExchange->pszStatus) == pExchange->nStatus, "the status line's code");
    Check(!store.bOpen, "the upload was left open");
    std::uint64_t cbStated = 0;
    if (ReadUploadNumber(U(lines[9]), lines[9].size(), &cbStated) == NumberStatus::kOk)
        Check(pieces.cbRead <= cbStated, "read past the stated length");
    if (store.bExists) {
        UploadRecord kept;
        Check(ReadUploadRecord(U(store.record), store.record.size(), &kept) == RecordStatus::kOk, "the record kept");
        Check(kept.cbOffset <= store.data.size(), "an offset past the bytes written");
        if (!(kept.flags & kRecordLengthDeferred)) Check(kept.cbOffset <= kept.cbLength, "an offset past the length");
        if (pExchange->bUpload && pExchange->nStatus < 300) Check(pExchange->cbOffset == kept.cbOffset, "the page's offset");
    }
    std::uint32_t cb = 0;
    const char* pch = AnswerHeaderValue(*pExchange, "Upload-Offset", &cb);
    if (pch && pExchange->bUpload) Check(Bytes(pch, cb) == std::to_string(pExchange->cbOffset), "the answer's offset");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t cbData) {
    const Bytes input(reinterpret_cast<const char*>(pbData), cbData);
    CheckBase64(input);
    CheckNumber(input);
    CheckMetadata(input);
    CheckChecksum(input);
    CheckConcat(input);
    CheckSimpleHeaders(input);
    CheckText(input);
    CheckId(input);
    std::int64_t t = 0;
    if (cbData >= 8) {
        std::memcpy(&t, pbData, 8);
        CheckDate(t);
        CheckDate(static_cast<std::int64_t>(static_cast<std::uint64_t>(t) % (ktMaxHttpDate + 1)));
    }
    CheckRecord(pbData, cbData);
    if (cbData >= kcbUploadRecordFixed && cbData <= kcbMaxUploadRecord) {
        std::vector<unsigned char> fixed(pbData, pbData + cbData);
        for (int i = 0; i < 4; ++i) fixed[8 + i] = static_cast<unsigned char>(cbData >> (8 * i));
        const std::uint32_t crc = Crc32(fixed.data(), cbData - 4);
        for (int i = 0; i < 4; ++i) fixed[cbData - 4 + i] = static_cast<unsigned char>(crc >> (8 * i));
        CheckRecord(fixed.data(), fixed.size());
    }
    CheckExchange(input);
    return 0;
}

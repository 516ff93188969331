// The protocol's answers as a table: a store holding one upload (or none),
// one request, and the status, the headers and what the store holds after.
// The store keeps its records in the record's byte format, so every answer
// that reads an upload reads one written and read back.
#include "resumable/tus_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "resumable/http_date.h"
#include "resumable_bytes.h"

namespace {

using namespace resumable_test;
using resumable::StoreResult;
using resumable::UploadRecord;

const char kszKnown[] = "0123456789abcdef0123456789abcdef";
const char kszMade[] = "fedcba9876543210fedcba9876543210";
constexpr std::int64_t ktNow = 1700000000;

struct Kept {
    Bytes record;
    Bytes data;
};

// Uploads in memory; one may be held by another writer.
class MemoryStore : public resumable::UploadStore {
public:
    std::map<std::string, Kept> uploads;
    std::string lockedByOther;
    StoreResult writeFailure = StoreResult::kOk;  // every Write after the first gives this
    int nKeeps = 0;
    bool bOpen = false;

    StoreResult Read(const char* pszId, UploadRecord* pRec) override {
        auto it = uploads.find(pszId);
        if (it == uploads.end()) return StoreResult::kNotFound;
        m_read = it->second.record;
        return resumable::ReadUploadRecord(U(m_read), m_read.size(), pRec) == resumable::RecordStatus::kOk
                   ? StoreResult::kOk
                   : StoreResult::kNotFound;
    }
    StoreResult Create(UploadRecord* pRec) override {
        EXPECT_FALSE(bOpen);
        std::memcpy(pRec->szId, kszMade, sizeof kszMade);
        m_open = kszMade;
        uploads[m_open] = Kept{};
        bOpen = true;
        return Store(*pRec);
    }
    StoreResult Open(const char* pszId, UploadRecord* pRec) override {
        EXPECT_FALSE(bOpen);
        if (lockedByOther == pszId) return StoreResult::kLocked;
        const StoreResult read = Read(pszId, pRec);
        if (read == StoreResult::kOk) {
            bOpen = true;
            m_open = pszId;
        }
        return read;
    }
    StoreResult Write(std::uint64_t cbOffset, const unsigned char* pb, std::uint32_t cb) override {
        EXPECT_TRUE(bOpen);
        if (m_nWrites++ > 0 && writeFailure != StoreResult::kOk) return writeFailure;
        Bytes& data = uploads[m_open].data;
        if (data.size() < cbOffset + cb) data.resize(cbOffset + cb);
        data.replace(cbOffset, cb, reinterpret_cast<const char*>(pb), cb);
        return StoreResult::kOk;
    }
    StoreResult Keep(const UploadRecord& rec) override {
        EXPECT_TRUE(bOpen);
        ++nKeeps;
        return Store(rec);
    }
    StoreResult Remove() override {
        EXPECT_TRUE(bOpen);
        uploads.erase(m_open);
        return StoreResult::kOk;
    }
    void Close() override {
        EXPECT_TRUE(bOpen);
        bOpen = false;
    }

private:
    StoreResult Store(const UploadRecord& rec) {
        unsigned char ab[resumable::kcbMaxUploadRecord];
        const std::size_t cb = resumable::WriteUploadRecord(rec, ab, sizeof ab);
        EXPECT_NE(cb, 0u) << "the exchange made a record that is not valid";
        if (!cb) return StoreResult::kFailed;
        uploads[m_open].record.assign(reinterpret_cast<char*>(ab), cb);
        return StoreResult::kOk;
    }

    std::string m_open;
    Bytes m_read;
    int m_nWrites = 0;
};

// The body as the page's Request gives it: pieces of at most cbNetwork,
// and nothing more once cbCut bytes came.
class Body : public resumable::RequestPieces {
public:
    Body(Bytes bytes, std::size_t cbCut) : m_bytes(std::move(bytes)), m_cbCut(cbCut) {}
    std::size_t cbRead = 0;
    std::uint32_t cbLargestAsked = 0;

    bool Next(std::uint32_t cbWant, const unsigned char** ppb, std::uint32_t* pcb) override {
        cbLargestAsked = std::max(cbLargestAsked, cbWant);
        const std::size_t cbEnd = std::min(m_bytes.size(), m_cbCut);
        const std::size_t cb = std::min<std::size_t>({cbWant, cbEnd - std::min(cbRead, cbEnd), 7});
        *ppb = U(m_bytes) + cbRead;
        *pcb = static_cast<std::uint32_t>(cb);
        cbRead += cb;
        return true;
    }

private:
    Bytes m_bytes;
    std::size_t m_cbCut;
};

// A stand-in digest of the algorithm's size (the real one is the system's):
// each byte the sum of the data plus its place.
Bytes FakeDigest(resumable::ChecksumAlgorithm algorithm, const Bytes& data) {
    unsigned sum = 0;
    for (unsigned char ch : data) sum += ch;
    Bytes digest;
    for (std::uint32_t i = 0; i < resumable::ChecksumDigestSize(algorithm); ++i) digest += char((sum + i) & 0xFF);
    return digest;
}

class Hasher : public resumable::ChunkHasher {
public:
    bool Begin(resumable::ChecksumAlgorithm algorithm) override {
        m_algorithm = algorithm;
        m_data.clear();
        return true;
    }
    bool Data(const unsigned char* pb, std::size_t cb) override {
        m_data.append(reinterpret_cast<const char*>(pb), cb);
        return true;
    }
    bool Finish(unsigned char (&abDigest)[resumable::kcbMaxDigest]) override {
        const Bytes digest = FakeDigest(m_algorithm, m_data);
        std::memcpy(abDigest, digest.data(), digest.size());
        return true;
    }

private:
    resumable::ChecksumAlgorithm m_algorithm{};
    Bytes m_data;
};

// The upload in the store before the request.
struct Upload {
    bool bExists = false;
    std::uint64_t cbLength = 0, cbOffset = 0;
    bool bDeferred = false;
    std::int64_t tExpires = ktNow + 3600;
    Bytes metadata;
    bool bLocked = false;
};

Upload Holding(std::uint64_t cbLength, std::uint64_t cbOffset) {
    Upload upload;
    upload.bExists = true;
    upload.cbLength = cbLength;
    upload.cbOffset = cbOffset;
    return upload;
}
Upload Deferred(std::uint64_t cbOffset) {
    Upload upload = Holding(0, cbOffset);
    upload.bDeferred = true;
    return upload;
}
Upload Expired() {
    Upload upload = Holding(10, 3);
    upload.tExpires = ktNow;
    return upload;
}
Upload Locked() {
    Upload upload = Holding(10, 3);
    upload.bLocked = true;
    return upload;
}
Upload WithMetadata(Bytes metadata) {
    Upload upload = Holding(10, 3);
    upload.metadata = std::move(metadata);
    return upload;
}

const Bytes kOctets = "application/offset+octet-stream";
const char* const kAbsent = "<absent>";

struct Case {
    const char* pszWhat;
    Upload before;
    std::vector<std::pair<const char*, Bytes>> request;  // "Method", "Id" and header names
    Bytes body;
    int nStatus;
    std::vector<std::pair<const char*, Bytes>> answer;  // headers expected (kAbsent: none)
    // After: the upload's offset (-1: gone) and bytes, under its id or the new one.
    long long nOffsetAfter = -2;  // -2: not checked
    Bytes dataAfter;
    std::uint64_t cbMaxSize = 0;
    std::size_t cbCut = SIZE_MAX;
};

std::vector<std::pair<const char*, Bytes>> Patch(const char* pszOffset, std::vector<std::pair<const char*, Bytes>> more = {}) {
    std::vector<std::pair<const char*, Bytes>> request = {
        {"Method", "PATCH"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown}, {"Upload-Offset", pszOffset},
        {"Content-Type", kOctets}};
    for (auto& header : more) request.push_back(header);
    return request;
}
std::vector<std::pair<const char*, Bytes>> Post(std::vector<std::pair<const char*, Bytes>> more) {
    std::vector<std::pair<const char*, Bytes>> request = {{"Method", "POST"}, {"Tus-Resumable", "1.0.0"}};
    for (auto& header : more) request.push_back(header);
    return request;
}
std::vector<std::pair<const char*, Bytes>> Named(const char* pszMethod, Bytes id = kszKnown) {
    return {{"Method", pszMethod}, {"Tus-Resumable", "1.0.0"}, {"Id", id}};
}

Bytes Checksum(const char* pszAlgorithm, resumable::ChecksumAlgorithm algorithm, const Bytes& data) {
    return Bytes(pszAlgorithm) + " " + Base64(FakeDigest(algorithm, data));
}

Bytes Date(std::int64_t t) {
    char sz[resumable::kcchHttpDate + 1];
    resumable::FormatHttpDate(t, sz);
    return sz;
}

const Bytes kMeta = "filename " + Base64("a.txt") + ",filetype " + Base64("text/plain");
const Bytes kSha1Of3 = Checksum("sha1", resumable::ChecksumAlgorithm::kSha1, "abc");

std::vector<Case> Cases() {
    using resumable::ChecksumAlgorithm;
    const Bytes expires = Date(ktNow + 3600);
    const Bytes madeExpires = Date(ktNow + 86400);
    return {
        // OPTIONS and the version.
        {"OPTIONS tells what is served", {}, {{"Method", "OPTIONS"}}, "", 204,
         {{"Tus-Version", "1.0.0"},
          {"Tus-Extension", "creation,creation-with-upload,creation-defer-length,expiration,termination,checksum"},
          {"Tus-Max-Size", "1000"}, {"Tus-Checksum-Algorithm", "sha1,md5,sha256"}},
         -2, "", 1000},
        {"OPTIONS without a limit names none", {}, {{"Method", "OPTIONS"}}, "", 204, {{"Tus-Max-Size", kAbsent}}},
        {"another version: 412 with Tus-Version", Holding(10, 3),
         {{"Method", "HEAD"}, {"Tus-Resumable", "0.2.2"}, {"Id", kszKnown}}, "", 412, {{"Tus-Version", "1.0.0"}}},
        {"no version: 412", Holding(10, 3), {{"Method", "HEAD"}, {"Id", kszKnown}}, "", 412, {}},
        {"a Content-Length that is no number: 400", Holding(10, 3),
         {{"Method", "PATCH"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown}, {"Upload-Offset", "3"},
          {"Content-Type", kOctets}, {"Content-Length", "1e3"}},
         "", 400, {}, 3},
        {"a method not served: 405", Holding(10, 3), Named("GET"), "", 405, {}},
        {"a malformed override: 400", Holding(10, 3),
         {{"Method", "POST"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown}, {"X-HTTP-Method-Override", "PA TCH"}}, "",
         400, {}},
        {"the override is honoured on POST", Holding(10, 3),
         {{"Method", "POST"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown}, {"X-HTTP-Method-Override", "DELETE"}}, "",
         204, {}, -1},
        {"the override is not honoured on HEAD", Holding(10, 3),
         {{"Method", "HEAD"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown}, {"X-HTTP-Method-Override", "DELETE"}}, "",
         200, {}, 3},

        // Creation.
        {"POST creates", {}, Post({{"Upload-Length", "10"}, {"Upload-Metadata", kMeta}}), "", 201,
         {{"Location", Bytes("https://h/p.asp?id=") + kszMade}, {"Upload-Expires", madeExpires}, {"Upload-Offset", "0"}},
         0},
        {"POST with a body keeps it", {},
         Post({{"Upload-Length", "10"}, {"Content-Type", kOctets}}), "abcdefghij", 201,
         {{"Upload-Offset", "10"}, {"Upload-Expires", kAbsent}}, 10, "abcdefghij"},
        {"POST with a checked body", {},
         Post({{"Upload-Length", "10"}, {"Content-Type", kOctets}, {"Upload-Checksum", kSha1Of3}}), "abc", 201,
         {{"Upload-Offset", "3"}}, 3, "abc"},
        {"POST with a body that does not match its digest: 460, the upload made empty", {},
         Post({{"Upload-Length", "10"}, {"Content-Type", kOctets}, {"Upload-Checksum", kSha1Of3}}), "abd", 460,
         {{"Upload-Offset", "0"}, {"Location", Bytes("https://h/p.asp?id=") + kszMade}}, 0},
        {"POST with a body of another type: 415", {},
         Post({{"Upload-Length", "10"}, {"Content-Type", "text/plain"}}), "abc", 415, {}, -1},
        {"POST with a body longer than the upload: 413", {},
         Post({{"Upload-Length", "2"}, {"Content-Type", kOctets}}), "abc", 413, {}, -1},
        {"POST over MaxSize: 413", {}, Post({{"Upload-Length", "1001"}}), "", 413, {}, -1, "", 1000},
        {"POST at MaxSize", {}, Post({{"Upload-Length", "1000"}}), "", 201, {}, 0, "", 1000},
        {"POST of a length past 64 bits: 400", {}, Post({{"Upload-Length", "99999999999999999999999"}}), "", 400,
         {}, -1},
        {"POST of a length past what a page's number holds: 413", {}, Post({{"Upload-Length", "9007199254740992"}}),
         "", 413, {}, -1},
        {"POST deferred", {}, Post({{"Upload-Defer-Length", "1"}}), "", 201, {}, 0},
        {"POST deferred with a body over MaxSize: 413", {},
         Post({{"Upload-Defer-Length", "1"}, {"Content-Type", kOctets}}), "abc", 413, {}, -1, "", 2},
        {"POST with both lengths: 400", {}, Post({{"Upload-Length", "5"}, {"Upload-Defer-Length", "1"}}), "", 400, {},
         -1},
        {"POST with neither length: 400", {}, Post({}), "", 400, {}, -1},
        {"POST with a negative length: 400", {}, Post({{"Upload-Length", "-5"}}), "", 400, {}, -1},
        {"POST with a signed length: 400", {}, Post({{"Upload-Length", "+5"}}), "", 400, {}, -1},
        {"POST with a blank in the length: 400", {}, Post({{"Upload-Length", "5 "}}), "", 400, {}, -1},
        {"POST with several lengths: 400", {}, Post({{"Upload-Length", "5, 5"}}), "", 400, {}, -1},
        {"POST with a defer other than 1: 400", {}, Post({{"Upload-Defer-Length", "0"}}), "", 400, {}, -1},
        {"POST with metadata that is not base64: 400", {},
         Post({{"Upload-Length", "5"}, {"Upload-Metadata", "filename a.txt"}}), "", 400, {}, -1},
        {"POST with the same key twice: 400", {},
         Post({{"Upload-Length", "5"}, {"Upload-Metadata", "a YQ==,a YQ=="}}), "", 400, {}, -1},
        {"POST with an unknown checksum algorithm: 400", {},
         Post({{"Upload-Length", "5"}, {"Content-Type", kOctets}, {"Upload-Checksum", "sha512 YQ=="}}), "abc", 400,
         {}, -1},
        {"POST of a concatenation: not served, 400", {},
         Post({{"Upload-Length", "5"}, {"Upload-Concat", "partial"}}), "", 400, {}, -1},

        // HEAD.
        {"HEAD tells the offset", WithMetadata(kMeta), Named("HEAD"), "", 200,
         {{"Upload-Offset", "3"}, {"Upload-Length", "10"}, {"Upload-Metadata", kMeta}, {"Cache-Control", "no-store"},
          {"Upload-Expires", expires}, {"Tus-Resumable", "1.0.0"}},
         3},
        {"HEAD of a deferred upload", Deferred(4), Named("HEAD"), "", 200,
         {{"Upload-Defer-Length", "1"}, {"Upload-Length", kAbsent}}, 4},
        {"HEAD of a complete upload: no expiry told", Holding(10, 10), Named("HEAD"), "", 200,
         {{"Upload-Expires", kAbsent}, {"Upload-Offset", "10"}}, 10},
        {"HEAD of an unknown id: 404", Holding(10, 3), Named("HEAD", "00000000000000000000000000000000"), "", 404, {},
         3},
        {"HEAD without an id: 404", Holding(10, 3), Named("HEAD", ""), "", 404, {}, 3},
        {"HEAD of an id in upper case: 404", Holding(10, 3), Named("HEAD", "0123456789ABCDEF0123456789ABCDEF"), "", 404,
         {}, 3},
        {"HEAD of an expired upload: 410, and it is removed", Expired(), Named("HEAD"), "", 410, {}, -1},
        {"HEAD of an upload being written answers", Locked(), Named("HEAD"), "", 200, {{"Upload-Offset", "3"}}, 3},

        // PATCH.
        {"PATCH appends", Holding(10, 3), Patch("3"), "defg", 204,
         {{"Upload-Offset", "7"}, {"Upload-Expires", expires}}, 7, "defg"},
        {"PATCH completes", Holding(10, 3), Patch("3"), "defghij", 204,
         {{"Upload-Offset", "10"}, {"Upload-Expires", kAbsent}}, 10, "defghij"},
        {"PATCH of nothing", Holding(10, 3), Patch("3"), "", 204, {{"Upload-Offset", "3"}}, 3},
        {"PATCH at another offset: 409, nothing read", Holding(10, 3), Patch("2"), "cdef", 409,
         {{"Upload-Offset", "3"}}, 3, ""},
        {"PATCH ahead of the offset: 409", Holding(10, 3), Patch("4"), "e", 409, {{"Upload-Offset", "3"}}, 3, ""},
        {"PATCH past the length: 413, nothing appended", Holding(10, 3), Patch("3"), "defghijk", 413, {}, 3, ""},
        {"PATCH of another type: 415", Holding(10, 3),
         {{"Method", "PATCH"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown}, {"Upload-Offset", "3"},
          {"Content-Type", "application/offset+octet-stream; charset=utf-8"}},
         "d", 415, {}, 3},
        {"PATCH without an offset: 400", Holding(10, 3), Patch(""), "d", 400, {}, 3},
        {"PATCH with a malformed offset: 400", Holding(10, 3), Patch("0x3"), "d", 400, {}, 3},
        {"PATCH with several offsets: 400", Holding(10, 3), Patch("3,3"), "d", 400, {}, 3},
        {"PATCH of an unknown id: 404", Holding(10, 3),
         {{"Method", "PATCH"}, {"Tus-Resumable", "1.0.0"}, {"Id", "..\\..\\windows\\win.ini"}, {"Upload-Offset", "3"},
          {"Content-Type", kOctets}},
         "d", 404, {}, 3},
        {"PATCH of an expired upload: 410, removed", Expired(), Patch("3"), "d", 410, {}, -1},
        {"PATCH of an upload another writer holds: 423", Locked(), Patch("3"), "d", 423, {}, 3, ""},
        {"PATCH by override", Holding(10, 3),
         {{"Method", "POST"}, {"X-HTTP-Method-Override", "PATCH"}, {"Tus-Resumable", "1.0.0"}, {"Id", kszKnown},
          {"Upload-Offset", "3"}, {"Content-Type", kOctets}},
         "de", 204, {{"Upload-Offset", "5"}}, 5, "de"},
        {"PATCH with a matching checksum", Holding(10, 3), Patch("3", {{"Upload-Checksum", kSha1Of3}}), "abc", 204,
         {{"Upload-Offset", "6"}}, 6, "abc"},
        {"PATCH with sha256", Holding(10, 3),
         Patch("3", {{"Upload-Checksum", Checksum("sha256", ChecksumAlgorithm::kSha256, "xy")}}), "xy", 204,
         {{"Upload-Offset", "5"}}, 5},
        {"PATCH with md5", Holding(10, 3),
         Patch("3", {{"Upload-Checksum", Checksum("md5", ChecksumAlgorithm::kMd5, "xy")}}), "xy", 204,
         {{"Upload-Offset", "5"}}, 5},
        {"PATCH whose checksum does not match: 460, the offset stays", Holding(10, 3),
         Patch("3", {{"Upload-Checksum", kSha1Of3}}), "abd", 460, {{"Upload-Offset", "3"}}, 3},
        {"PATCH with a digest of the wrong size: 400", Holding(10, 3),
         Patch("3", {{"Upload-Checksum", "sha1 " + Base64("abc")}}), "abc", 400, {}, 3},
        {"PATCH cut off keeps what came", Holding(10, 3), Patch("3"), "defghij", 204, {{"Upload-Offset", "6"}}, 6,
         "def", 0, 3},
        {"PATCH with a checksum cut off keeps nothing: 460", Holding(10, 3),
         Patch("3", {{"Upload-Checksum", Checksum("sha1", ChecksumAlgorithm::kSha1, "defghij")}}), "defghij", 460,
         {{"Upload-Offset", "3"}}, 3, "", 0, 3},
        {"PATCH gives a deferred length", Deferred(3), Patch("3", {{"Upload-Length", "5"}}), "de", 204,
         {{"Upload-Offset", "5"}, {"Upload-Expires", kAbsent}}, 5},
        {"PATCH of a deferred upload without its length", Deferred(3), Patch("3"), "de", 204,
         {{"Upload-Offset", "5"}, {"Upload-Expires", expires}}, 5},
        {"PATCH of a deferred upload over MaxSize: 413", Deferred(3), Patch("3"), "de", 413, {}, 3, "", 4},
        {"PATCH giving a deferred length below the offset: 400", Deferred(3), Patch("3", {{"Upload-Length", "2"}}), "",
         400, {}, 3},
        {"PATCH giving a deferred length over MaxSize: 413", Deferred(3), Patch("3", {{"Upload-Length", "9"}}), "",
         413, {}, 3, "", 8},
        {"PATCH changing a set length: 400", Holding(10, 3), Patch("3", {{"Upload-Length", "11"}}), "d", 400, {}, 3},
        {"PATCH restating the length", Holding(10, 3), Patch("3", {{"Upload-Length", "10"}}), "d", 204,
         {{"Upload-Offset", "4"}}, 4},

        // DELETE.
        {"DELETE removes", Holding(10, 3), Named("DELETE"), "", 204, {}, -1},
        {"DELETE of an unknown id: 404", Holding(10, 3), Named("DELETE", "0123456789abcdef0123456789abcdeF"), "", 404,
         {}, 3},
        {"DELETE of an upload being written: 423", Locked(), Named("DELETE"), "", 423, {}, 3},
    };
}

struct Trial {
    MemoryStore store;
    std::unique_ptr<resumable::TusExchange> exchange = std::make_unique<resumable::TusExchange>();
    std::unique_ptr<Body> body;
};

void Seed(MemoryStore* pStore, const Upload& before) {
    if (!before.bExists) return;
    UploadRecord rec{};
    std::memcpy(rec.szId, kszKnown, sizeof kszKnown);
    rec.flags = before.bDeferred ? resumable::kRecordLengthDeferred : 0;
    rec.cbLength = before.cbLength;
    rec.cbOffset = before.cbOffset;
    rec.tCreated = ktNow - 60;
    rec.tExpires = before.tExpires;
    rec.pbMetadata = U(before.metadata);
    rec.cbMetadata = static_cast<std::uint32_t>(before.metadata.size());
    unsigned char ab[resumable::kcbMaxUploadRecord];
    const std::size_t cb = resumable::WriteUploadRecord(rec, ab, sizeof ab);
    ASSERT_NE(cb, 0u);
    pStore->uploads[kszKnown] = Kept{Bytes(reinterpret_cast<char*>(ab), cb), ""};
    if (before.bLocked) pStore->lockedByOther = kszKnown;
}

void Answer(const Case& c, Trial* pRun, resumable::TusSettings settings = {}) {
    Seed(&pRun->store, c.before);
    static const Bytes kLocation = "https://h/p.asp?id=";
    resumable::TusRequest request;
    std::map<std::string, resumable::HeaderBytes*> fields = {
        {"Method", &request.method},
        {"X-HTTP-Method-Override", &request.methodOverride},
        {"Tus-Resumable", &request.tusResumable},
        {"Upload-Offset", &request.uploadOffset},
        {"Upload-Length", &request.uploadLength},
        {"Upload-Defer-Length", &request.uploadDeferLength},
        {"Upload-Metadata", &request.uploadMetadata},
        {"Upload-Checksum", &request.uploadChecksum},
        {"Upload-Concat", &request.uploadConcat},
        {"Content-Type", &request.contentType},
        {"Content-Length", &request.contentLength},
        {"Id", &request.id}};
    for (const auto& header : c.request) {
        ASSERT_TRUE(fields.count(header.first)) << header.first;
        *fields[header.first] = resumable::HeaderBytes{U(header.second), header.second.size()};
    }
    const Bytes length = std::to_string(c.body.size());
    if (!c.body.empty()) request.contentLength = {U(length), length.size()};
    request.location = {U(kLocation), kLocation.size()};
    settings.cbMaxSize = c.cbMaxSize;
    settings.tNow = ktNow;
    pRun->body = std::make_unique<Body>(c.body, c.cbCut);
    Hasher hasher;
    resumable::AnswerTusRequest(request, settings, pRun->store, *pRun->body, hasher, pRun->exchange.get());
}

Bytes HeaderOf(const resumable::TusExchange& exchange, const char* pszName) {
    std::uint32_t cb = 0;
    const char* pch = resumable::AnswerHeaderValue(exchange, pszName, &cb);
    return pch ? Bytes(pch, cb) : Bytes(kAbsent);
}

TEST(TusExchange, AnswersEachCaseOfTheTable) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.pszWhat);
        Trial run;
        Answer(c, &run);
        const resumable::TusExchange& exchange = *run.exchange;
        EXPECT_EQ(exchange.nStatus, c.nStatus);
        ASSERT_NE(exchange.pszStatus, nullptr);
        EXPECT_EQ(std::atoi(exchange.pszStatus), c.nStatus);
        EXPECT_FALSE(run.store.bOpen) << "the upload was left open";
        if (Bytes(c.request[0].second) != "OPTIONS") EXPECT_EQ(HeaderOf(exchange, "Tus-Resumable"), "1.0.0");
        for (const auto& header : c.answer) EXPECT_EQ(HeaderOf(exchange, header.first), header.second) << header.first;
        if (c.nOffsetAfter == -2) continue;
        const bool bMade = !c.before.bExists && c.request[0].second == "POST";
        const std::string id = bMade ? kszMade : kszKnown;
        auto it = run.store.uploads.find(id);
        if (c.nOffsetAfter == -1) {
            EXPECT_TRUE(it == run.store.uploads.end()) << "the upload is still there";
            continue;
        }
        ASSERT_TRUE(it != run.store.uploads.end()) << "the upload is gone";
        UploadRecord rec;
        ASSERT_EQ(resumable::ReadUploadRecord(U(it->second.record), it->second.record.size(), &rec),
                  resumable::RecordStatus::kOk);
        EXPECT_EQ(rec.cbOffset, static_cast<std::uint64_t>(c.nOffsetAfter));
        if (!c.dataAfter.empty() || c.nStatus == 409 || c.nStatus == 413 || c.nStatus == 423) {
            const Bytes& data = it->second.data;
            // The bytes the record counts are the ones sent, and a refused
            // chunk wrote nothing.
            const std::size_t cbFrom = c.before.bExists ? c.before.cbOffset : 0;
            EXPECT_EQ(data.size() > cbFrom ? data.substr(cbFrom) : Bytes(), c.dataAfter);
        }
        if (exchange.bUpload) EXPECT_EQ(exchange.cbOffset, rec.cbOffset) << "the page is told another offset";
    }
}

// A body over the checkpoint moves the record on as it arrives, so a cut
// keeps what came before; with a checksum it waits for the digest.
TEST(TusExchange, LongBodyMovesTheRecordOnAtCheckpoints) {
    const Bytes body = Noise(100, 1);
    for (bool bChecksum : {false, true}) {
        SCOPED_TRACE(bChecksum ? "checksum" : "no checksum");
        Case c{"long", Holding(200, 0), Patch("0"), body, 204, {}};
        if (bChecksum)
            c.request.push_back({"Upload-Checksum", Checksum("md5", resumable::ChecksumAlgorithm::kMd5, body)});
        Trial run;
        resumable::TusSettings settings;
        settings.cbPiece = 16;
        settings.cbCheckpoint = 32;
        Answer(c, &run, settings);
        EXPECT_EQ(run.exchange->nStatus, 204);
        EXPECT_EQ(run.exchange->cbOffset, 100u);
        EXPECT_EQ(run.store.nKeeps, bChecksum ? 1 : 3);  // at 35 and 70 (pieces of 7), then the end
        EXPECT_LE(run.body->cbLargestAsked, 16u);
        EXPECT_EQ(run.store.uploads[kszKnown].data, body);
    }
}

// A write refused for a full disk is answered 507 and the record promises
// only what an earlier checkpoint kept.
TEST(TusExchange, DiskFullIsAnswered507WithNothingPromised) {
    for (StoreResult failure : {StoreResult::kDiskFull, StoreResult::kFailed}) {
        Case c{"full", Holding(200, 0), Patch("0"), Noise(100, 2), 0, {}};
        Trial run;
        run.store.writeFailure = failure;
        Answer(c, &run);
        EXPECT_EQ(run.exchange->nStatus, failure == StoreResult::kDiskFull ? 507 : 500);
        UploadRecord rec;
        const Bytes& record = run.store.uploads[kszKnown].record;
        ASSERT_EQ(resumable::ReadUploadRecord(U(record), record.size(), &rec), resumable::RecordStatus::kOk);
        EXPECT_EQ(rec.cbOffset, 0u);
        EXPECT_FALSE(run.store.bOpen);
    }
}

}  // namespace

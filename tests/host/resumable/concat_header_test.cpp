// Upload-Concat: "partial", and "final;" with its URLs in order, the caps
// at their edges, and every near miss of either form.
#include "resumable/concat_header.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;
using resumable::ConcatStatus;
using resumable::UploadConcat;

std::vector<Bytes> UrlsOf(const Bytes& header, const UploadConcat& concat) {
    std::vector<Bytes> urls;
    for (std::uint32_t i = 0; i < concat.nUrls; ++i) urls.push_back(header.substr(concat.aUrls[i].l, concat.aUrls[i].cb));
    return urls;
}

// "final;/u0 /u1 ..." with n URLs.
Bytes FinalOf(std::uint32_t n, std::vector<Bytes>* pUrls) {
    Bytes header = "final;";
    for (std::uint32_t i = 0; i < n; ++i) {
        pUrls->push_back("/u" + std::to_string(i));
        header += (i ? " " : "") + pUrls->back();
    }
    return header;
}

TEST(UploadConcat, PartialAndFinalWithItsUrlsInOrder) {
    std::vector<Bytes> most;
    const Bytes mostHeader = FinalOf(resumable::kMaxConcatParts, &most);
    const Bytes longUrl = "/" + Bytes(resumable::kcbMaxConcatHeader - 7, 'a');
    const struct {
        Bytes header;
        ConcatStatus status;
        std::vector<Bytes> urls;
    } cases[] = {
        {"partial", ConcatStatus::kPartial, {}},
        {"final;/files/a /files/b", ConcatStatus::kFinal, {"/files/a", "/files/b"}},
        {"final;https://tus.example.org/files/a", ConcatStatus::kFinal, {"https://tus.example.org/files/a"}},
        {"final;/up.asp?id=0a1b /up.asp?id=2c3d&x=%20", ConcatStatus::kFinal, {"/up.asp?id=0a1b", "/up.asp?id=2c3d&x=%20"}},
        {"final;b a b", ConcatStatus::kFinal, {"b", "a", "b"}},  // a piece twice, and in any order
        {"final;;", ConcatStatus::kFinal, {";"}},
        {mostHeader, ConcatStatus::kFinal, most},
        {"final;" + longUrl, ConcatStatus::kFinal, {longUrl}},  // the longest header
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header.substr(0, 60));
        std::unique_ptr<UploadConcat> pConcat(new UploadConcat);
        EXPECT_EQ(c.status, resumable::ReadUploadConcat(U(c.header), c.header.size(), pConcat.get()));
        EXPECT_EQ(c.urls, UrlsOf(c.header, *pConcat));
    }
}

TEST(UploadConcat, EachFaultHasItsStatusAndLeavesNoUrls) {
    std::vector<Bytes> urls;
    const Bytes tooMany = FinalOf(resumable::kMaxConcatParts + 1, &urls);
    const Bytes tooLong = "final;/" + Bytes(resumable::kcbMaxConcatHeader - 6, 'a');
    const struct {
        Bytes header;
        ConcatStatus status;
    } cases[] = {
        {"", ConcatStatus::kAbsent},
        {"Partial", ConcatStatus::kMalformed},
        {"partial ", ConcatStatus::kMalformed},
        {" partial", ConcatStatus::kMalformed},
        {"partial;/a", ConcatStatus::kMalformed},
        {"partia", ConcatStatus::kMalformed},
        {"final", ConcatStatus::kMalformed},
        {"final;", ConcatStatus::kMalformed},
        {"final ;/a", ConcatStatus::kMalformed},
        {"FINAL;/a", ConcatStatus::kMalformed},
        {"final:/a", ConcatStatus::kMalformed},
        {"final; /a", ConcatStatus::kMalformed},
        {"final;/a ", ConcatStatus::kMalformed},
        {"final;/a  /b", ConcatStatus::kMalformed},
        {"final;/a\t/b", ConcatStatus::kMalformed},
        {"final;/a /b\r\n", ConcatStatus::kMalformed},
        {B("final;/a\0 /b"), ConcatStatus::kMalformed},
        {"final;/\xC3\xA4", ConcatStatus::kMalformed},
        {"final;/a /b\x7F", ConcatStatus::kMalformed},
        {tooMany, ConcatStatus::kTooLong},
        {tooLong, ConcatStatus::kTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header.substr(0, 60));
        std::unique_ptr<UploadConcat> pConcat(new UploadConcat);
        EXPECT_EQ(c.status, resumable::ReadUploadConcat(U(c.header), c.header.size(), pConcat.get()));
        EXPECT_EQ(0u, pConcat->nUrls);
    }
}

}  // namespace

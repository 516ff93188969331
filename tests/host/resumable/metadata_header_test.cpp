// Upload-Metadata: the pairs of sound headers in order with their decoded
// bytes, and each way a header can be refused, with the status that tells
// which; the caps at their edges; the lookup.
#include "resumable/metadata_header.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;
using resumable::MetadataStatus;
using resumable::UploadMetadata;

using Pairs = std::vector<std::pair<Bytes, Bytes>>;

std::unique_ptr<UploadMetadata> NewMetadata() { return std::unique_ptr<UploadMetadata>(new UploadMetadata); }

Pairs PairsOf(const UploadMetadata& meta) {
    Pairs pairs;
    for (std::uint32_t i = 0; i < meta.nPairs; ++i) {
        const resumable::MetadataPair& pair = meta.aPairs[i];
        pairs.emplace_back(Bytes(reinterpret_cast<const char*>(meta.Key(pair)), pair.cbKey),
                           Bytes(reinterpret_cast<const char*>(meta.Value(pair)), pair.cbValue));
    }
    return pairs;
}

// n pairs "k0 <base64 of v0>,k1 ..." and the pairs they hold.
std::pair<Bytes, Pairs> ManyPairs(std::uint32_t n) {
    Bytes header;
    Pairs pairs;
    for (std::uint32_t i = 0; i < n; ++i) {
        const Bytes key = "k" + std::to_string(i), value = "v" + std::to_string(i);
        header += (i ? "," : "") + key + " " + Base64(value);
        pairs.emplace_back(key, value);
    }
    return {header, pairs};
}

TEST(UploadMetadata, SoundHeadersGiveTheirPairsInOrder) {
    const auto many = ManyPairs(resumable::kMaxMetadataPairs);
    // "kkk " and 8188 characters of base64: exactly the longest header.
    const Bytes longValue = Noise(6141, 7);
    const Bytes longest = "kkk " + Base64(longValue);
    ASSERT_EQ(resumable::kcbMaxMetadataHeader, longest.size());
    const struct {
        const char* pszWhat;
        Bytes header;
        Pairs pairs;
    } cases[] = {
        {"the protocol's example", "filename d29ybGRfZG9taW5hdGlvbl9wbGFuLnBkZg==,is_confidential",
         {{"filename", "world_domination_plan.pdf"}, {"is_confidential", ""}}},
        {"one pair", "a YQ==", {{"a", "a"}}},
        {"a key alone", "k", {{"k", ""}}},
        {"a key and an empty value", "k ", {{"k", ""}}},
        {"empty values between others", "a,b ,c YQ==", {{"a", ""}, {"b", ""}, {"c", "a"}}},
        {"blanks around pairs", " a YQ== ,\tb Yg==\t", {{"a", "a"}, {"b", "b"}}},
        {"binary value", "bin AP8AgA==", {{"bin", B("\0\xFF\0\x80")}}},
        {"a NUL alone", "n AA==", {{"n", B("\0")}}},
        {"UTF-8 value", "name " + Base64("\xE6\x97\xA5\xE6\x9C\xAC.pdf"), {{"name", "\xE6\x97\xA5\xE6\x9C\xAC.pdf"}}},
        {"keys of visible ASCII", "x-y.z_1;=!~ eA==", {{"x-y.z_1;=!~", "x"}}},
        {"keys differing in case only", "A YQ==,a Yg==", {{"A", "a"}, {"a", "b"}}},
        {"a base64-looking key alone", "YQ==", {{"YQ==", ""}}},
        {"the most pairs", many.first, many.second},
        {"the longest header", longest, {{"kkk", longValue}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        auto pMeta = NewMetadata();
        ASSERT_EQ(MetadataStatus::kOk, resumable::ReadUploadMetadata(U(c.header), c.header.size(), pMeta.get()));
        EXPECT_EQ(c.pairs, PairsOf(*pMeta));
    }
}

TEST(UploadMetadata, EachFaultHasItsStatusAndLeavesNoPairs) {
    const auto tooMany = ManyPairs(resumable::kMaxMetadataPairs + 1);
    const Bytes tooLong = "kkkk " + Base64(Noise(6141, 7));
    ASSERT_EQ(resumable::kcbMaxMetadataHeader + 1, tooLong.size());
    const struct {
        const char* pszWhat;
        Bytes header;
        MetadataStatus status;
    } cases[] = {
        {"empty", "", MetadataStatus::kAbsent},
        {"blanks only", " \t", MetadataStatus::kBadKey},
        {"a comma alone", ",", MetadataStatus::kBadKey},
        {"a comma first", ",a YQ==", MetadataStatus::kBadKey},
        {"a comma last", "a YQ==,", MetadataStatus::kBadKey},
        {"an empty pair", "a YQ==,,b Yg==", MetadataStatus::kBadKey},
        {"a blank pair", "a YQ==, ,b Yg==", MetadataStatus::kBadKey},
        {"a tab for the space", "a\tYQ==", MetadataStatus::kBadKey},
        {"a non-ASCII key", "\xC3\xA4 YQ==", MetadataStatus::kBadKey},
        {"a control byte in the key", "a\x01 YQ==", MetadataStatus::kBadKey},
        {"DEL in the key", "a\x7F YQ==", MetadataStatus::kBadKey},
        {"a NUL in the key", B("a\0b YQ=="), MetadataStatus::kBadKey},
        {"a bad key after good pairs", "a YQ==,b Yg==,\xFF", MetadataStatus::kBadKey},
        {"two spaces", "a  YQ==", MetadataStatus::kBadValue},
        {"a blank inside the value", "a YQ =", MetadataStatus::kBadValue},
        {"a third part", "a YQ== Yg==", MetadataStatus::kBadValue},
        {"unpadded", "a YQ", MetadataStatus::kBadValue},
        {"bits left over", "a YR==", MetadataStatus::kBadValue},
        {"base64url", "a _-8=", MetadataStatus::kBadValue},
        {"a plain text value", "filename report.pdf", MetadataStatus::kBadValue},
        {"a bad value after good pairs", "a YQ==,b Yg==,c Y", MetadataStatus::kBadValue},
        {"a duplicate key", "a YQ==,a Yg==", MetadataStatus::kDuplicateKey},
        {"a duplicate key without values", "a,b,a", MetadataStatus::kDuplicateKey},
        {"a duplicate key with blanks", "a YQ==, a", MetadataStatus::kDuplicateKey},
        {"one pair too many", tooMany.first, MetadataStatus::kTooManyPairs},
        {"one byte too long", tooLong, MetadataStatus::kTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        auto pMeta = NewMetadata();
        EXPECT_EQ(c.status, resumable::ReadUploadMetadata(U(c.header), c.header.size(), pMeta.get()));
        EXPECT_EQ(0u, pMeta->nPairs);
        EXPECT_EQ(nullptr, resumable::FindMetadata(*pMeta, "a"));
    }
    auto pMeta = NewMetadata();
    EXPECT_EQ(MetadataStatus::kAbsent, resumable::ReadUploadMetadata(nullptr, 6, pMeta.get()));
}

TEST(UploadMetadata, LookupIsByTheWholeKeyWithCase) {
    const Bytes header = "filename d29ybGRfZG9taW5hdGlvbl9wbGFuLnBkZg==,is_confidential,File " + Base64("x");
    auto pMeta = NewMetadata();
    ASSERT_EQ(MetadataStatus::kOk, resumable::ReadUploadMetadata(U(header), header.size(), pMeta.get()));
    const resumable::MetadataPair* pName = resumable::FindMetadata(*pMeta, "filename");
    ASSERT_NE(nullptr, pName);
    EXPECT_EQ("world_domination_plan.pdf", Bytes(reinterpret_cast<const char*>(pMeta->Value(*pName)), pName->cbValue));
    const resumable::MetadataPair* pFlag = resumable::FindMetadata(*pMeta, "is_confidential");
    ASSERT_NE(nullptr, pFlag);
    EXPECT_EQ(0u, pFlag->cbValue);
    const resumable::MetadataPair* pFile = resumable::FindMetadata(*pMeta, "File");
    ASSERT_NE(nullptr, pFile);
    EXPECT_EQ("x", Bytes(reinterpret_cast<const char*>(pMeta->Value(*pFile)), pFile->cbValue));
    for (const char* pszMissing : {"Filename", "file", "filename ", "", "is_confidentia", "File2"}) {
        SCOPED_TRACE(pszMissing);
        EXPECT_EQ(nullptr, resumable::FindMetadata(*pMeta, pszMissing));
    }
    EXPECT_EQ(nullptr, resumable::FindMetadata(*pMeta, nullptr));
    EXPECT_EQ(pName, resumable::FindMetadata(*pMeta, U(header), 8));  // a key given by length
}

TEST(UploadMetadata, PairsOutliveTheHeaderTheyWereReadFrom) {
    auto pMeta = NewMetadata();
    {
        std::unique_ptr<Bytes> pHeader(new Bytes("a YWJj,bb ZGVm"));
        ASSERT_EQ(MetadataStatus::kOk, resumable::ReadUploadMetadata(U(*pHeader), pHeader->size(), pMeta.get()));
        pHeader->assign(pHeader->size(), '#');
    }
    EXPECT_EQ((Pairs{{"a", "abc"}, {"bb", "def"}}), PairsOf(*pMeta));
}

}  // namespace

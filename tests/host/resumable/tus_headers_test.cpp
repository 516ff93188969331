// The simple headers: the version, offsets and lengths, the deferred
// length, the method override and PATCH's body type, each against a table
// of sound values and of every near miss a client or a proxy could send.
#include "resumable/tus_headers.h"

#include <gtest/gtest.h>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;
using resumable::DeferStatus;
using resumable::NumberStatus;
using resumable::OverrideStatus;
using resumable::TusMethod;
using resumable::VersionStatus;

TEST(TusResumable, OnlyExactly100IsSupportedAndEmptyIsAbsent) {
    const struct {
        Bytes value;
        VersionStatus status;
    } cases[] = {
        {"1.0.0", VersionStatus::kSupported},
        {"", VersionStatus::kAbsent},
        {"1.0.0 ", VersionStatus::kOther},
        {" 1.0.0", VersionStatus::kOther},
        {"1.0", VersionStatus::kOther},
        {"1.0.00", VersionStatus::kOther},
        {"1.0.1", VersionStatus::kOther},
        {"0.2.2", VersionStatus::kOther},
        {"1.0.0,0.2.2", VersionStatus::kOther},
        {B("1.0.0\0"), VersionStatus::kOther},
        {"v1.0.0", VersionStatus::kOther},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.status, resumable::ReadTusResumable(U(c.value), c.value.size()));
    }
    EXPECT_EQ(VersionStatus::kAbsent, resumable::ReadTusResumable(nullptr, 5));
}

TEST(UploadNumber, DecimalDigitsUpToTheLargestExactScriptNumber) {
    const struct {
        Bytes value;
        NumberStatus status;
        std::uint64_t n;
    } cases[] = {
        {"0", NumberStatus::kOk, 0},
        {"100", NumberStatus::kOk, 100},
        {"007", NumberStatus::kOk, 7},
        {"4294967296", NumberStatus::kOk, 4294967296ull},  // past 32 bits
        {"9007199254740991", NumberStatus::kOk, 9007199254740991ull},
        {"0009007199254740991", NumberStatus::kOk, 9007199254740991ull},
        {"9007199254740992", NumberStatus::kTooLarge, 0},
        {"18446744073709551615", NumberStatus::kTooLarge, 0},  // the largest 64-bit value
        {"018446744073709551615", NumberStatus::kTooLarge, 0},  // leading zeros count for nothing
        {"18446744073709551616", NumberStatus::kMalformed, 0},  // wraps to 0 in 64 bits
        {"18446744073709551626", NumberStatus::kMalformed, 0},  // wraps to 10
        {"99999999999999999999999999999999", NumberStatus::kMalformed, 0},
        {"", NumberStatus::kAbsent, 0},
        {"-1", NumberStatus::kMalformed, 0},
        {"-0", NumberStatus::kMalformed, 0},
        {"+1", NumberStatus::kMalformed, 0},
        {" 1", NumberStatus::kMalformed, 0},
        {"1 ", NumberStatus::kMalformed, 0},
        {"1\t", NumberStatus::kMalformed, 0},
        {"1,000", NumberStatus::kMalformed, 0},
        {"1.0", NumberStatus::kMalformed, 0},
        {"1e3", NumberStatus::kMalformed, 0},
        {"0x10", NumberStatus::kMalformed, 0},
        {"\xEF\xBC\x91", NumberStatus::kMalformed, 0},  // a full-width 1
        {B("1\0"), NumberStatus::kMalformed, 0},
        {"99999999999999999999x", NumberStatus::kMalformed, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::uint64_t n = 12345;
        EXPECT_EQ(c.status, resumable::ReadUploadNumber(U(c.value), c.value.size(), &n));
        EXPECT_EQ(c.n, n);
    }
}

TEST(UploadDeferLength, OnlyOne) {
    const struct {
        Bytes value;
        DeferStatus status;
    } cases[] = {
        {"1", DeferStatus::kDeferred}, {"", DeferStatus::kAbsent},     {"0", DeferStatus::kMalformed},
        {"01", DeferStatus::kMalformed}, {"1 ", DeferStatus::kMalformed}, {"11", DeferStatus::kMalformed},
        {"2", DeferStatus::kMalformed},  {"true", DeferStatus::kMalformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.status, resumable::ReadUploadDeferLength(U(c.value), c.value.size()));
    }
}

TEST(MethodOverride, AnyTokenReadsAndOnlyTheServedMethodsAreNamed) {
    const struct {
        Bytes value;
        OverrideStatus status;
        TusMethod method;
    } cases[] = {
        {"PATCH", OverrideStatus::kOk, TusMethod::kPatch},
        {"DELETE", OverrideStatus::kOk, TusMethod::kDelete},
        {"HEAD", OverrideStatus::kOk, TusMethod::kHead},
        {"POST", OverrideStatus::kOk, TusMethod::kPost},
        {"OPTIONS", OverrideStatus::kOk, TusMethod::kOptions},
        {"GET", OverrideStatus::kOk, TusMethod::kGet},
        {"patch", OverrideStatus::kOk, TusMethod::kOther},  // methods are compared with case
        {"PUT", OverrideStatus::kOk, TusMethod::kOther},
        {"PATC", OverrideStatus::kOk, TusMethod::kOther},
        {"PATCHES", OverrideStatus::kOk, TusMethod::kOther},
        {"M-SEARCH", OverrideStatus::kOk, TusMethod::kOther},
        {"!#$%&'*+-.^_`|~09az", OverrideStatus::kOk, TusMethod::kOther},
        {Bytes(32, 'X'), OverrideStatus::kOk, TusMethod::kOther},
        {Bytes(33, 'X'), OverrideStatus::kMalformed, TusMethod::kOther},
        {"", OverrideStatus::kAbsent, TusMethod::kOther},
        {"PATCH ", OverrideStatus::kMalformed, TusMethod::kOther},
        {" PATCH", OverrideStatus::kMalformed, TusMethod::kOther},
        {"PA TCH", OverrideStatus::kMalformed, TusMethod::kOther},
        {"PATCH\r\n", OverrideStatus::kMalformed, TusMethod::kOther},
        {"PATCH,DELETE", OverrideStatus::kMalformed, TusMethod::kOther},
        {"(PATCH)", OverrideStatus::kMalformed, TusMethod::kOther},
        {"PATCH/1", OverrideStatus::kMalformed, TusMethod::kOther},
        {B("PATCH\0"), OverrideStatus::kMalformed, TusMethod::kOther},
        {"P\xC3\x84TCH", OverrideStatus::kMalformed, TusMethod::kOther},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        TusMethod method = TusMethod::kGet;
        EXPECT_EQ(c.status, resumable::ReadMethodOverride(U(c.value), c.value.size(), &method));
        EXPECT_EQ(c.method, method);
        if (c.status == OverrideStatus::kOk)
            EXPECT_EQ(c.method, resumable::MethodFromToken(U(c.value), c.value.size()));
    }
}

TEST(OffsetOctetStream, TheTypeInAnyCaseAndNothingMore) {
    const struct {
        Bytes value;
        bool bMatches;
    } cases[] = {
        {"application/offset+octet-stream", true},
        {"Application/Offset+Octet-Stream", true},
        {"APPLICATION/OFFSET+OCTET-STREAM", true},
        {"application/offset+octet-stream; charset=utf-8", false},
        {"application/offset+octet-stream;", false},
        {"application/offset+octet-stream ", false},
        {" application/offset+octet-stream", false},
        {"application/offset+octet-streamx", false},
        {"application/offset+octet-strea", false},
        {"application/offset octet-stream", false},  // a '+' decoded as a space on the way
        {"application/octet-stream", false},
        {"multipart/form-data; boundary=x", false},
        {B("application/offset+octet-stream\0"), false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.bMatches, resumable::IsOffsetOctetStream(U(c.value), c.value.size()));
    }
    EXPECT_FALSE(resumable::IsOffsetOctetStream(nullptr, 31));
}

}  // namespace

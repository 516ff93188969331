// The strict base64 of metadata values and checksum digests: RFC 4648's
// vectors, a round trip of every length against an encoder of the test's
// own, and each way text can be not quite base64.
#include "resumable/base64.h"

#include <gtest/gtest.h>

#include <vector>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;

// Decodes into a buffer of exactly Base64DecodedMax bytes and a guard byte.
bool Decode(const Bytes& text, Bytes* pDecoded) {
    std::vector<unsigned char> out(resumable::Base64DecodedMax(text.size()) + 1, 0xA5);
    std::size_t cb = 99;
    const bool bOk = resumable::DecodeBase64(U(text), text.size(), out.data(), &cb);
    EXPECT_EQ(0xA5, out.back()) << "written past the room asked for";
    if (!bOk) EXPECT_EQ(0u, cb);
    pDecoded->assign(reinterpret_cast<const char*>(out.data()), cb);
    return bOk;
}

TEST(Base64, Rfc4648Vectors) {
    const struct {
        const char* pszText;
        const char* pszBytes;
    } cases[] = {
        {"", ""},          {"Zg==", "f"},         {"Zm8=", "fo"},         {"Zm9v", "foo"},
        {"Zm9vYg==", "foob"}, {"Zm9vYmE=", "fooba"}, {"Zm9vYmFy", "foobar"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszText);
        Bytes decoded;
        ASSERT_TRUE(Decode(c.pszText, &decoded));
        EXPECT_EQ(Bytes(c.pszBytes), decoded);
    }
}

TEST(Base64, EveryLengthAndEveryByteRoundTrips) {
    Bytes allBytes;
    for (int i = 0; i < 256; ++i) allBytes += char(i);
    std::vector<Bytes> inputs = {allBytes};
    for (std::size_t cb = 0; cb <= 70; ++cb) inputs.push_back(Noise(cb, std::uint32_t(cb)));
    for (const Bytes& bytes : inputs) {
        SCOPED_TRACE(bytes.size());
        Bytes decoded;
        ASSERT_TRUE(Decode(Base64(bytes), &decoded));
        EXPECT_EQ(bytes, decoded);
    }
}

TEST(Base64, AnythingButCanonicalPaddedTextIsRefused) {
    const Bytes cases[] = {
        "Zg",          // unpadded
        "Zm8",         // unpadded
        "Zg=",         // short padding
        "Zg===",       // too much
        "=",           "==", "====",
        "Zg==Zg==",    // padding before the end
        "Zm=v",        // padding inside a group
        "Z===",        // one character of a byte
        "Zh==",        // the bits the padding leaves over are not zero
        "Zm9=",        // likewise, one padding character
        "Zm9v\n",      // a line break
        "Zm9v\r\nYmFy",
        " Zm9v",       "Zm9v ", "Zm 9v",
        "Zm9\tv",
        "Zm-_",        // base64url's alphabet
        "Zm9v.A==",
        B("Zm\0v"),    // a NUL
        "Zm\xC3\xA9",  // a non-ASCII byte
    };
    for (const Bytes& text : cases) {
        SCOPED_TRACE(text);
        Bytes decoded;
        EXPECT_FALSE(Decode(text, &decoded));
    }
    std::size_t cb = 7;
    EXPECT_FALSE(resumable::DecodeBase64(nullptr, 4, nullptr, &cb));
    EXPECT_EQ(0u, cb);
}

}  // namespace

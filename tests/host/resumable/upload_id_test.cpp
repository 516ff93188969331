// Upload ids: made from the random bytes given, always valid and always
// those bytes again; and which ids a request may name.
#include "resumable/upload_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;
using resumable::kcbUploadIdRandom;
using resumable::kcchUploadId;

std::string IdOf(const Bytes& random) {
    unsigned char ab[kcbUploadIdRandom];
    for (std::size_t i = 0; i < kcbUploadIdRandom; ++i) ab[i] = static_cast<unsigned char>(random[i]);
    char szId[kcchUploadId + 1];
    std::memset(szId, '#', sizeof szId);
    resumable::MakeUploadId(ab, szId);
    EXPECT_EQ('\0', szId[kcchUploadId]);
    return szId;
}

TEST(UploadId, IsTheRandomBytesInLowerCaseHex) {
    Bytes ascending;
    for (std::size_t i = 0; i < kcbUploadIdRandom; ++i) ascending += char(i * 0x11);
    EXPECT_EQ("00112233445566778899aabbccddeeff", IdOf(ascending));
    EXPECT_EQ(std::string(32, 'f'), IdOf(Bytes(16, '\xFF')));
    EXPECT_EQ(std::string(32, '0'), IdOf(Bytes(16, '\0')));
    // Each id is valid, and ids of different bytes differ: one bit changed
    // anywhere changes the id.
    std::set<std::string> ids;
    const Bytes random = Noise(kcbUploadIdRandom, 99);
    ids.insert(IdOf(random));
    for (std::size_t i = 0; i < kcbUploadIdRandom; ++i)
        for (int nBit = 0; nBit < 8; ++nBit) {
            Bytes changed = random;
            changed[i] = char(changed[i] ^ (1 << nBit));
            const std::string id = IdOf(changed);
            EXPECT_TRUE(resumable::UploadIdValid(id.data(), id.size())) << id;
            ids.insert(id);
        }
    EXPECT_EQ(1 + 8 * kcbUploadIdRandom, ids.size());
}

TEST(UploadId, OnlyTheSpellingMadeHereIsValid) {
    const std::string good = "0123456789abcdef0123456789abcdef";
    const struct {
        const char* pszWhat;
        std::string id;
        bool bValid;
    } cases[] = {
        {"made here", good, true},
        {"one short", good.substr(1), false},
        {"one long", good + "0", false},
        {"empty", "", false},
        {"upper case", "0123456789ABCDEF0123456789abcdef", false},
        {"one upper case digit", "0123456789abcdeF0123456789abcdef", false},
        {"a letter past f", "0123456789abcdeg0123456789abcdef", false},
        {"a dot", "0123456789abcdef.123456789abcdef", false},
        {"a parent folder", "../3456789abcdef0123456789abcdef", false},
        {"a backslash", "..\\3456789abcdef0123456789abcdef", false},
        {"a slash", "0123456789abcdef/123456789abcdef", false},
        {"a drive", "c:\\3456789abcdef0123456789abcdef", false},
        {"a stream", "0123456789abcdef0123456789abc:$d", false},
        {"a NUL inside", std::string("0123456789abcdef\0" "123456789abcdef", 32), false},
        {"a space", "0123456789abcdef 123456789abcdef", false},
        {"base64url", "0123456789abcdef-_23456789abcdef", false},
        {"a byte past ASCII", "0123456789abcdef\xB0" "123456789abcdef", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.bValid, resumable::UploadIdValid(c.id.data(), c.id.size()));
        const std::u16string wide(c.id.begin(), c.id.end());
        EXPECT_EQ(c.bValid, resumable::UploadIdValid(wide.data(), wide.size()));
    }
    EXPECT_FALSE(resumable::UploadIdValid(static_cast<const char*>(nullptr), 32));
    EXPECT_FALSE(resumable::UploadIdValid(static_cast<const char16_t*>(nullptr), 32));
}

TEST(UploadId, AWideIdIsJudgedByWholeUnitsNotTheirLowBytes) {
    // Each unit's low byte is a valid digit: a reader that cut units to
    // bytes would take them.
    const char16_t achLookAlikes[] = {u'\u0130', u'\u0161', u'\uFF10', u'\uFF41', u'\u3030', char16_t(0xD830)};
    for (char16_t ch : achLookAlikes) {
        SCOPED_TRACE(static_cast<int>(ch));
        std::u16string id(32, u'a');
        id[5] = ch;
        EXPECT_FALSE(resumable::UploadIdValid(id.data(), id.size()));
    }
}

}  // namespace

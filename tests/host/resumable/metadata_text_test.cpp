// A metadata value as text: well-formed UTF-8 as it is, each maximal
// subpart of an ill-formed sequence and each control character as one
// U+FFFD (the Unicode Standard's own example among the cases), and the
// length asked before the text, never past the room given.
#include "resumable/metadata_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resumable_bytes.h"

namespace {

using namespace resumable_test;

std::u16string TextOf(const Bytes& bytes) {
    const std::size_t cch = resumable::DecodeMetadataText(U(bytes), bytes.size(), nullptr, 0);
    EXPECT_LE(cch, bytes.size()) << "a buffer of one unit a byte must always do";
    std::vector<char16_t> text(cch + 1, u'#');
    EXPECT_EQ(cch, resumable::DecodeMetadataText(U(bytes), bytes.size(), text.data(), cch));
    EXPECT_EQ(u'#', text[cch]) << "written past the room given";
    return std::u16string(text.data(), cch);
}

const std::u16string R = u"\uFFFD";

TEST(MetadataText, WellFormedTextAsItIsAndEveryFaultAsReplacements) {
    const struct {
        const char* pszWhat;
        Bytes bytes;
        std::u16string text;
    } cases[] = {
        {"empty", "", u""},
        {"ASCII", "report 2024.pdf", u"report 2024.pdf"},
        {"Japanese", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.pdf", u"\u65E5\u672C\u8A9E.pdf"},
        {"two bytes", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"four bytes", "\xF0\x9F\x98\x80!", u"\U0001F600!"},
        {"the last code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"U+FFFF stays", "\xEF\xBF\xBF", u"\uFFFF"},
        {"a BOM stays", "\xEF\xBB\xBF" "a", u"\uFEFFa"},
        {"C1 controls stay", "\xC2\x80\xC2\x9F", u"\u0080\u009F"},
        {"space and tilde stay", " ~", u" ~"},
        {"NUL", B("a\0b"), u"a" + R + u"b"},
        {"C0 controls and DEL", "\t\r\n\x1B\x1F\x7F", R + R + R + R + R + R},
        // The Unicode Standard's example of maximal subparts (Table 3-8).
        {"maximal subparts", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a" + R + R + R + u"b" + R + u"c" + R + R + u"d"},
        {"overlong slash", "\xC0\xAF", R + R},
        {"overlong three bytes", "\xE0\x80\xAF", R + R + R},
        {"overlong four bytes", "\xF0\x80\x80\xAF", R + R + R + R},
        {"a surrogate", "\xED\xA0\x80", R + R + R},
        {"past U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
        {"F5 and beyond", "\xF5\x80\xFE\xFF", R + R + R + R},
        {"a lone continuation byte", "a\x80" "b", u"a" + R + u"b"},
        {"cut at the end", "a\xE6\x97", u"a" + R},
        {"cut four bytes at the end", "\xF0\x9F\x98", R},
        {"cut before ASCII", "\xE6\x97" "a", R + u"a"},
        {"cut before a lead byte", "\xE6\xC3\xA9", R + u"\u00E9"},
        {"a control character as a sequence", "\xC0\x80", R + R},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.text, TextOf(c.bytes));
    }
    EXPECT_EQ(0u, resumable::DecodeMetadataText(nullptr, 5, nullptr, 0));
}

TEST(MetadataText, ASmallBufferGetsTheBeginningAndTheWholeLength) {
    const Bytes bytes = "ab\xF0\x9F\x98\x80" "c";  // a b pair pair c
    for (std::size_t cchRoom = 0; cchRoom <= 6; ++cchRoom) {
        SCOPED_TRACE(cchRoom);
        std::vector<char16_t> text(cchRoom + 1, u'#');
        EXPECT_EQ(5u, resumable::DecodeMetadataText(U(bytes), bytes.size(), text.data(), cchRoom));
        const std::u16string whole = u"ab\U0001F600c";
        EXPECT_EQ(whole.substr(0, cchRoom), std::u16string(text.data(), cchRoom < 5 ? cchRoom : 5));
        EXPECT_EQ(u'#', text[cchRoom]);
    }
}

TEST(MetadataText, NoInputGivesAControlCharacterOrALoneSurrogate) {
    // Every byte string of one and two bytes, and three-byte strings that
    // begin with each lead byte.
    std::vector<Bytes> inputs;
    for (int a = 0; a < 256; ++a) {
        inputs.push_back(Bytes(1, char(a)));
        for (int b = 0; b < 256; ++b) inputs.push_back({char(a), char(b)});
        if (a >= 0xC0)
            for (int b = 0x70; b < 0xD0; ++b)
                for (int c = 0x70; c < 0xD0; c += 7) inputs.push_back({char(a), char(b), char(c), '\x80'});
    }
    for (const Bytes& bytes : inputs) {
        const std::u16string text = TextOf(bytes);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t ch = text[i];
            ASSERT_FALSE(ch < 0x20 || ch == 0x7F) << Hex(bytes);
            if (ch >= 0xD800 && ch <= 0xDBFF) {
                ASSERT_TRUE(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) << Hex(bytes);
                ++i;
            } else {
                ASSERT_FALSE(ch >= 0xDC00 && ch <= 0xDFFF) << Hex(bytes);
            }
        }
    }
}

}  // namespace

// The host stand-ins must behave like the Windows services the cores are
// written against, or host tests would pass for the wrong reasons.
#include <gtest/gtest.h>

#include <string>

#include "testing/host_services.h"
#include "platform/module_heap.h"
#include "platform/text_services.h"

namespace {
std::string ToAnsi(const std::u16string& wide) {
    int cb = TextWideToAnsi(wide.c_str(), nullptr, 0);
    std::string out(cb, '\0');
    EXPECT_EQ(cb, TextWideToAnsi(wide.c_str(), &out[0], cb));
    out.resize(cb - 1);
    return out;
}

std::u16string ToWide(const std::string& ansi) {
    int cch = TextAnsiToWide(ansi.c_str(), nullptr, 0);
    std::u16string out(cch, u'\0');
    EXPECT_EQ(cch, TextAnsiToWide(ansi.c_str(), &out[0], cch));
    out.resize(cch - 1);
    return out;
}

struct Conversion {
    unsigned nCodePage;
    std::u16string wide;
    std::string ansi;
};

TEST(HostTextServices, ConvertLikeTheCodePage) {
    const Conversion cases[] = {
        {932, u"abc", "abc"},
        {932, u"\u8868.txt", "\x95\x5C.txt"},            // trail byte 0x5C
        {932, u"\u30BD\u30D5\u30C8", "\x83\x5C\x83\x74\x83\x67"},
        {932, u"\uFF92\uFF7F\uFF6F\uFF84\uFF9E", "\xD2\xBF\xAF\xC4\xDE"},  // half-width katakana
        {1252, u"caf\u00E9 \u20AC", "caf\xE9 \x80"},
    };
    for (const Conversion& c : cases) {
        HostSetCodePage(c.nCodePage);
        EXPECT_EQ(c.ansi, ToAnsi(c.wide));
        EXPECT_EQ(c.wide, ToWide(c.ansi));
    }
    HostSetCodePage(1252);
    EXPECT_EQ("?.txt", ToAnsi(u"\u8868.txt"));  // unmappable: default character
    HostSetCodePage(932);
    char small[3];
    EXPECT_EQ(0, TextWideToAnsi(u"abcd", small, sizeof small));  // too small: failure, as Windows
}

TEST(HostTextServices, DoubleByteStepping) {
    HostSetCodePage(932);
    const char* psz = "\x95\x5C\\a";
    EXPECT_TRUE(TextIsLeadByte(0x95));
    EXPECT_FALSE(TextIsLeadByte(0x5C));
    EXPECT_EQ(psz + 2, TextCharNext(psz));
    EXPECT_EQ(psz + 3, TextCharNext(psz + 2));
    const char* pszEnd = psz + 4;
    EXPECT_EQ(pszEnd, TextCharNext(pszEnd));
    const char* pszCut = "\x95";  // lead byte before the terminator
    EXPECT_EQ(pszCut + 1, TextCharNext(pszCut));
    HostSetCodePage(1252);
    EXPECT_FALSE(TextIsLeadByte(0x95));
    EXPECT_EQ(psz + 1, TextCharNext(psz));
}

TEST(HostTextServices, CompareIgnoresCaseOfCharactersNotBytes) {
    HostSetCodePage(932);
    EXPECT_EQ(0, TextCompareNoCase("Comment", "cOMMENT"));
    EXPECT_NE(0, TextCompareNoCase("Comment", "Comments"));
    // 0x83 0x61 (a katakana) must not fold its trail byte 'a' to 'A' (0x83 0x41).
    EXPECT_NE(0, TextCompareNoCase("\x83\x61", "\x83\x41"));
    EXPECT_EQ(0, TextCompareNoCase("\x95\x5C", "\x95\x5C"));
    EXPECT_LT(TextCompareNoCase("a", "b"), 0);
    HostSetCodePage(1252);
    EXPECT_EQ(0, TextCompareNoCase("\xE9t\xE9", "\xC9T\xC9"));
}

TEST(HostHeap, CountsBlocksAndInjectsFailures) {
    long lBase = HostHeapLiveBlocks();
    void* pv = ModuleAlloc(0);
    ASSERT_NE(nullptr, pv);
    EXPECT_EQ(lBase + 1, HostHeapLiveBlocks());
    pv = ModuleRealloc(pv, 64);
    ASSERT_NE(nullptr, pv);
    EXPECT_EQ(lBase + 1, HostHeapLiveBlocks());
    HostHeapFailAfter(1);
    void* pv2 = ModuleAlloc(8);
    EXPECT_NE(nullptr, pv2);
    EXPECT_EQ(nullptr, ModuleAlloc(8));
    EXPECT_EQ(nullptr, ModuleRealloc(pv, 128));  // the block stays valid
    HostHeapFailAfter(-1);
    ModuleFree(pv2);
    ModuleFree(pv);
    ModuleFree(nullptr);
    EXPECT_EQ(lBase, HostHeapLiveBlocks());
}
}  // namespace

// Which ids name a record, and the section name they give.
#include <gtest/gtest.h>

#include <string>

#include "progress/progress_id.h"

namespace {

struct IdCase {
    std::u16string strId;
    bool bValid;
};

TEST(ProgressId, OnlyLettersDigitsAndHyphensOfOneTo64) {
    const IdCase cases[] = {
        {u"a", true},
        {u"Upload-7f3A-09", true},
        {u"-", true},
        {std::u16string(64, u'z'), true},
        {u"", false},
        {std::u16string(65, u'z'), false},
        {u"a b", false},
        {u"a.b", false},
        {u"a_b", false},
        {u"..", false},
        {u"a\\b", false},      // another object's name
        {u"Global\\x", false},  // another namespace
        {u"a/b", false},
        {u"a:b", false},
        {std::u16string(u"ab\0c", 4), false},  // a BSTR with a zero inside
        {u"\u00e4", false},                     // a letter, but not an ASCII one
        {u"\uff41", false},                     // full-width a
        {std::u16string(u"a\0", 2), false},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(std::string(c.strId.begin(), c.strId.end()));
        EXPECT_EQ(c.bValid, ProgressIdValid(c.strId.data(), c.strId.size()));
        char16_t szName[kcchProgressSectionName];
        EXPECT_EQ(c.bValid, ProgressSectionName(c.strId.data(), c.strId.size(), szName));
        if (!c.bValid) EXPECT_EQ(u'\0', szName[0]);
    }
    EXPECT_FALSE(ProgressIdValid(nullptr, 3));
}

TEST(ProgressId, SectionNameIsTheLocalNameInLowerCase) {
    char16_t szName[kcchProgressSectionName];
    const std::u16string strId = u"Up-LOAD-09az";
    ASSERT_TRUE(ProgressSectionName(strId.data(), strId.size(), szName));
    EXPECT_EQ(u"Local\\VARO.Progress.up-load-09az", std::u16string(szName));

    const std::u16string strLongest(64, u'Q');
    ASSERT_TRUE(ProgressSectionName(strLongest.data(), strLongest.size(), szName));
    EXPECT_EQ(u"Local\\VARO.Progress." + std::u16string(64, u'q'), std::u16string(szName));
}

}  // namespace

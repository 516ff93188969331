#include "registration/replacement_map.h"
#include "testing/host_services.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::u16string Value(const char16_t* psz) { return psz ? std::u16string(psz) : u"(none)"; }

class ReplacementMapTest : public ::testing::Test {
protected:
    void SetUp() override { HostSetCodePage(932); m_lLiveBefore = HostHeapLiveBlocks(); }
    void TearDown() override {
        HostHeapFailAfter(-1);
        EXPECT_EQ(HostHeapLiveBlocks(), m_lLiveBefore);
    }
    long m_lLiveBefore = 0;
};

TEST_F(ReplacementMapTest, FindsNamesWithoutRegardToCaseAndTheFirstAdditionWins) {
    ReplacementMap map;
    ASSERT_EQ(map.Add(u"Module", u"C:\\first.dll"), S_OK);
    ASSERT_EQ(map.Add(u"MODULE", u"C:\\second.dll"), S_OK);
    ASSERT_EQ(map.Add(u"\u8868\u793a", u"double-byte name"), S_OK);
    EXPECT_EQ(Value(map.Find("module")), u"C:\\first.dll");
    EXPECT_EQ(Value(map.Find("MoDuLe")), u"C:\\first.dll");
    EXPECT_EQ(Value(map.Find("\x95\x5c\x8e\xa6")), u"double-byte name");
    EXPECT_EQ(map.Find("Modul"), nullptr);
    EXPECT_EQ(map.Find(""), nullptr);
}

TEST_F(ReplacementMapTest, GrowsPastItsFirstRoomAndClearFreesEverything) {
    ReplacementMap map;
    for (int i = 0; i < 25; ++i) {
        std::u16string name = u"N" + std::u16string(1, static_cast<char16_t>(u'a' + i));
        std::u16string value(static_cast<std::size_t>(i), u'v');
        ASSERT_EQ(map.Add(name.c_str(), value.c_str()), S_OK);
    }
    EXPECT_EQ(map.Count(), 25);
    EXPECT_EQ(Value(map.Find("NY")), std::u16string(24, u'v'));
    EXPECT_EQ(Value(map.Find("na")), u"");
    map.Clear();
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(map.Find("na"), nullptr);
    EXPECT_EQ(HostHeapLiveBlocks(), m_lLiveBefore);
}

// Out of memory at each allocation of an addition (the list's growth, the
// name's copy, the value's copy) leaves the map as it was.
TEST_F(ReplacementMapTest, AdditionWithoutMemoryLeavesTheMapAsItWas) {
    for (long nAllowed = 0; nAllowed < 3; ++nAllowed) {
        ReplacementMap map;
        for (int i = 0; i < 10; ++i) ASSERT_EQ(map.Add(u"Fill", u"x"), S_OK);  // the next addition grows the list
        HostHeapFailAfter(nAllowed);
        EXPECT_EQ(map.Add(u"Late", u"value"), E_OUTOFMEMORY) << nAllowed;
        HostHeapFailAfter(-1);
        EXPECT_EQ(map.Count(), 10);
        EXPECT_EQ(map.Find("Late"), nullptr);
        EXPECT_EQ(map.Add(u"Late", u"value"), S_OK);
        EXPECT_EQ(Value(map.Find("late")), u"value");
    }
}
}  // namespace

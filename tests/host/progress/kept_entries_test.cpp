// The keeper of ended records: each kept until its own time has passed,
// across the tick count's wrap, one per name, nothing lost or kept twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "progress/kept_entries.h"
#include "testing/host_services.h"

namespace {

std::vector<std::uintptr_t> g_released;
void RecordRelease(std::uintptr_t hEntry) { g_released.push_back(hEntry); }

class Kept : public ::testing::Test {
protected:
    void SetUp() override {
        g_released.clear();
        m_lBlocksBefore = HostHeapLiveBlocks();
    }
    void TearDown() override {
        HostHeapFailAfter(-1);
        EXPECT_EQ(m_lBlocksBefore, HostHeapLiveBlocks());
    }
    std::vector<std::uintptr_t> Released() {
        std::vector<std::uintptr_t> released = g_released;
        std::sort(released.begin(), released.end());
        g_released.clear();
        return released;
    }
    long m_lBlocksBefore = 0;
};

using Handles = std::vector<std::uintptr_t>;

struct SweepAt {
    std::uint32_t msNow;
    Handles released;
    std::uint32_t nLeft;
};

TEST_F(Kept, EachEntryGoesOnceItsOwnTimeHasPassed) {
    const std::uint32_t msBase = 0xFFFFFF00u;  // 256 ms before the tick count wraps
    KeptEntries kept(RecordRelease);
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.a", 1, msBase, 300));
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.b", 2, msBase + 100, 100));
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.c", 3, msBase + 100, 1000));
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.d", 4, msBase + 150, 0x7FFFFFFFu));
    EXPECT_EQ(Handles{}, Released());
    const SweepAt sweeps[] = {
        {msBase + 199, {}, 4},
        {msBase + 200, {2}, 3},    // b: 100 ms after it was kept
        {msBase + 299, {}, 3},     // past the wrap: a has 1 ms left
        {msBase + 300, {1}, 2},
        {msBase + 1099, {}, 2},
        {msBase + 1100, {3}, 1},
        {msBase + 150 + 0x7FFFFFFEu, {}, 1},
        {msBase + 150 + 0x7FFFFFFFu, {4}, 0},
    };
    for (const SweepAt& s : sweeps) {
        SCOPED_TRACE(testing::Message() << "at " << s.msNow);
        kept.Sweep(s.msNow);
        EXPECT_EQ(s.released, Released());
        EXPECT_EQ(s.nLeft, kept.Count());
    }
}

TEST_F(Kept, ASecondEndOfTheSameNameReplacesTheFirst) {
    KeptEntries kept(RecordRelease);
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.a", 1, 0, 100));
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.ab", 2, 0, 100));  // a longer name is another
    ASSERT_TRUE(kept.Keep(u"Local\\VARO.Progress.a", 3, 90, 100));
    EXPECT_EQ(Handles{1}, Released());
    EXPECT_EQ(2u, kept.Count());
    kept.Sweep(100);
    EXPECT_EQ(Handles{2}, Released());
    kept.Sweep(189);
    EXPECT_EQ(Handles{}, Released()) << "the replacement keeps its own time";
    kept.Sweep(190);
    EXPECT_EQ(Handles{3}, Released());
    EXPECT_EQ(0u, kept.Count());
}

TEST_F(Kept, WhatCannotBeKeptIsReleasedAtOnce) {
    KeptEntries kept(RecordRelease);
    EXPECT_FALSE(kept.Keep(u"Local\\VARO.Progress.a", 1, 0, 0)) << "no retention";
    EXPECT_EQ(Handles{1}, Released());
    HostHeapFailAfter(0);
    EXPECT_FALSE(kept.Keep(u"Local\\VARO.Progress.b", 2, 0, 100)) << "no memory";
    EXPECT_EQ(Handles{2}, Released());
    EXPECT_EQ(0u, kept.Count());
    HostHeapFailAfter(-1);
    for (std::uintptr_t h = 10; h < 30; ++h) {  // grows past its first room
        const std::u16string strName = u"Local\\VARO.Progress.n" + std::u16string(1, static_cast<char16_t>(u'a' + h));
        ASSERT_TRUE(kept.Keep(strName.c_str(), h, 0, 100));
    }
    HostHeapFailAfter(0);
    EXPECT_TRUE(kept.Keep(u"Local\\VARO.Progress.nk", 99, 0, 100)) << "a replacement needs no room";
    EXPECT_EQ(Handles{10}, Released());
    HostHeapFailAfter(-1);
}

TEST_F(Kept, EveryEntryIsReleasedWhenTheKeeperGoes) {
    {
        KeptEntries kept(RecordRelease);
        for (std::uintptr_t h = 1; h <= 6; ++h) {
            const std::u16string strName = u"Local\\VARO.Progress." + std::u16string(h, u'x');
            ASSERT_TRUE(kept.Keep(strName.c_str(), h, 0, 1000));
        }
        kept.Sweep(10);
        EXPECT_EQ(Handles{}, Released());
    }
    EXPECT_EQ((Handles{1, 2, 3, 4, 5, 6}), Released());
}

}  // namespace

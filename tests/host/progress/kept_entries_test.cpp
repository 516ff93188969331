// The keeper of ended records: each kept until its own time has passed,
// across the tick count's wrap, one per name, nothing lost or kept twice;
// at the cap the one whose time ends first makes room.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
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

struct KeepStep {
    const char16_t* pszKey;
    std::uintptr_t hEntry;
    std::uint32_t msNow, msRetention;
    Handles released;
    std::uint32_t nCount;
};

TEST_F(Kept, AtTheCapTheEntryWhoseTimeEndsFirstMakesRoom) {
    KeptEntries kept(RecordRelease, 3);
    const KeepStep steps[] = {
        {u"Local\\VARO.Progress.a", 1, 0, 1000, {}, 1},
        {u"Local\\VARO.Progress.b", 2, 10, 1000, {}, 2},
        {u"Local\\VARO.Progress.c", 3, 20, 1000, {}, 3},
        {u"Local\\VARO.Progress.d", 4, 30, 1000, {1}, 3},   // the oldest ended goes
        {u"Local\\VARO.Progress.b", 5, 40, 1000, {2}, 3},   // the same name: replaced, no other goes
        {u"Local\\VARO.Progress.e", 6, 50, 1000, {3}, 3},   // c is the oldest now: b's time began again
        {u"Local\\VARO.Progress.f", 7, 60, 100, {4}, 3},    // kept for less, ending at 160
        {u"Local\\VARO.Progress.g", 8, 70, 1000, {7}, 3},   // f's time ends first, though kept last
    };
    for (const KeepStep& s : steps) {
        SCOPED_TRACE(testing::Message() << "handle " << s.hEntry);
        EXPECT_TRUE(kept.Keep(s.pszKey, s.hEntry, s.msNow, s.msRetention));
        EXPECT_EQ(s.released, Released());
        EXPECT_EQ(s.nCount, kept.Count());
    }
    const SweepAt sweeps[] = {{1039, {}, 3}, {1040, {5}, 2}, {1069, {6}, 1}, {1070, {8}, 0}};
    for (const SweepAt& s : sweeps) {
        SCOPED_TRACE(testing::Message() << "at " << s.msNow);
        kept.Sweep(s.msNow);
        EXPECT_EQ(s.released, Released());
        EXPECT_EQ(s.nLeft, kept.Count());
    }
}

// What a keeper of the same cap must hold after each call: entries by name,
// released in the order of their ends (then of their keeping), on a 64-bit
// clock that never wraps.
class KeptModel {
public:
    explicit KeptModel(std::size_t nMax) : m_nMax(nMax) {}
    Handles Keep(const std::u16string& strKey, std::uintptr_t hEntry, std::uint64_t msNow, std::uint32_t msRetention) {
        Handles released;
        auto it = m_byKey.find(strKey);
        if (it != m_byKey.end()) {
            released.push_back(it->second.hEntry);
            m_byEnd.erase(std::make_pair(it->second.msEnd, it->second.nSerial));
            m_byKey.erase(it);
        } else if (m_byKey.size() == m_nMax) {
            const auto first = m_byEnd.begin();
            released.push_back(m_byKey[first->second].hEntry);
            m_byKey.erase(first->second);
            m_byEnd.erase(first);
        }
        const Kept entry{hEntry, msNow + msRetention, ++m_nSerial};
        m_byKey[strKey] = entry;
        m_byEnd[std::make_pair(entry.msEnd, entry.nSerial)] = strKey;
        std::sort(released.begin(), released.end());
        return released;
    }
    Handles Sweep(std::uint64_t msNow) {
        Handles released;
        while (!m_byEnd.empty() && m_byEnd.begin()->first.first <= msNow) {
            released.push_back(m_byKey[m_byEnd.begin()->second].hEntry);
            m_byKey.erase(m_byEnd.begin()->second);
            m_byEnd.erase(m_byEnd.begin());
        }
        std::sort(released.begin(), released.end());
        return released;
    }
    std::size_t Count() const { return m_byKey.size(); }

private:
    struct Kept {
        std::uintptr_t hEntry;
        std::uint64_t msEnd;
        std::uint64_t nSerial;
    };
    std::size_t m_nMax;
    std::uint64_t m_nSerial = 0;
    std::map<std::u16string, Kept> m_byKey;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::u16string> m_byEnd;
};

// Thousands of names kept, replaced, pushed out by the cap and swept, in
// an order no table would think of: every call releases exactly what the
// model says, so no name is ever lost to the table or found twice.
TEST_F(Kept, ManyNamesAgreeWithAPlainModel) {
    constexpr std::uint32_t kCap = 700;
    KeptEntries kept(RecordRelease, kCap);
    KeptModel model(kCap);
    std::uint32_t nRandom = 12345;
    const auto next = [&nRandom](std::uint32_t nBelow) {
        nRandom = nRandom * 1103515245u + 12345u;
        return (nRandom >> 8) % nBelow;
    };
    const auto Unit = [&next](char16_t chFirst, std::uint32_t nChoices) {
        return std::u16string(1, static_cast<char16_t>(chFirst + next(nChoices)));
    };
    const std::uint32_t msBase = 0xFFFF0000u;  // the tick count wraps a minute in
    const std::uint32_t retentions[] = {200, 5000, 20000};
    std::uint64_t msNow = 0;
    for (std::uintptr_t h = 1; h <= 30000; ++h) {
        msNow += next(5);
        const std::uint32_t msTicks = msBase + static_cast<std::uint32_t>(msNow);
        SCOPED_TRACE(testing::Message() << "call " << h << " at " << msNow);
        if (next(20) == 0) {
            kept.Sweep(msTicks);
            ASSERT_EQ(model.Sweep(msNow), Released());
        } else {
            const std::u16string strKey = u"Local\\VARO.Progress.k" + Unit(u'a', 26) + Unit(u'a', 26) + Unit(u'0', 3);
            const std::uint32_t msRetention = retentions[next(3)];
            ASSERT_TRUE(kept.Keep(strKey.c_str(), h, msTicks, msRetention));
            ASSERT_EQ(model.Keep(strKey, h, msNow, msRetention), Released());
        }
        ASSERT_EQ(model.Count(), kept.Count());
    }
    kept.ReleaseAll();
    EXPECT_EQ(model.Sweep(UINT64_MAX), Released());
}

}  // namespace

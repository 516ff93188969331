// Heap choice at attach and the per-processor heap blocks.
#include <gtest/gtest.h>

#include "platform/module_heap.h"
#include "platform/module_state.h"

namespace {
const DWORD kNT = VER_PLATFORM_WIN32_NT;
const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
// The per-processor block header: the system's allocation alignment.
const SIZE_T kHeader = MEMORY_ALLOCATION_ALIGNMENT;
// A request no heap of this process can satisfy (more than its address space
// holds on x64, half of it on x86).
const SIZE_T kRefused = sizeof(void*) == 8 ? SIZE_T{1} << 47 : 0x7FFFFF00u;

class ModuleHeap : public ::testing::Test {
protected:
    void Init(DWORD dwPlatform, DWORD dwMajor, DWORD dwProcessors) {
        PlatformFacts facts{dwPlatform, dwMajor, dwProcessors};
        ASSERT_EQ(S_OK, InitModule(nullptr, GetModuleHandleA(nullptr), &facts));
    }
    void TearDown() override { TermModule(); }
    static HANDLE HeaderHeap(void* pv) { return *reinterpret_cast<HANDLE*>(static_cast<BYTE*>(pv) - kHeader); }
};

struct HeapChoice {
    DWORD dwPlatform, dwMajor, dwProcessors;
    DWORD dwExpectedHeaps;
};

TEST_F(ModuleHeap, ChoiceFollowsPlatformAndProcessorCount) {
    const HeapChoice cases[] = {
        {kNT, 5, 1, 0},  {kNT, 5, 8, 0},  {kNT, 6, 2, 0},  {kNT, 10, 64, 0},
        {kNT, 4, 1, 0},  {kNT, 4, 2, 4},  {k9x, 4, 0, 0},  {k9x, 4, 1, 0},
        {k9x, 4, 2, 4},  {k9x, 4, 3, 4},  {k9x, 4, 4, 8},  {k9x, 4, 5, 8},
        {k9x, 4, 7, 8},  {k9x, 4, 8, 16}, {k9x, 4, 15, 16}, {k9x, 4, 16, 32},
        {0, 0, 4, 8},  // a failed version query counts as not NT 5
    };
    for (const HeapChoice& c : cases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.dwPlatform << " v" << c.dwMajor << " cpus " << c.dwProcessors);
        Init(c.dwPlatform, c.dwMajor, c.dwProcessors);
        if (c.dwExpectedHeaps == 0) {
            EXPECT_EQ(nullptr, g_ModuleState.phProcessorHeaps);
            EXPECT_EQ(0u, g_ModuleState.dwHeapMask);
        } else {
            ASSERT_NE(nullptr, g_ModuleState.phProcessorHeaps);
            EXPECT_EQ(c.dwExpectedHeaps - 1, g_ModuleState.dwHeapMask);
            for (DWORD i = 0; i < c.dwExpectedHeaps; ++i) {
                EXPECT_NE(nullptr, g_ModuleState.phProcessorHeaps[i]);
                EXPECT_NE(g_ModuleState.hBaseHeap, g_ModuleState.phProcessorHeaps[i]);
            }
        }
        EXPECT_NE(nullptr, g_ModuleState.hBaseHeap);
        TermModule();
    }
}

TEST_F(ModuleHeap, BaseHeapBlocksAreTheHeapsOwn) {
    Init(kNT, 5, 4);
    void* pv = ModuleAlloc(24);
    ASSERT_NE(nullptr, pv);
    EXPECT_TRUE(HeapValidate(g_ModuleState.hBaseHeap, 0, pv));
    EXPECT_EQ(24u, HeapSize(g_ModuleState.hBaseHeap, 0, pv));
    void* pvZero = ModuleAlloc(0);
    ASSERT_NE(nullptr, pvZero);
    EXPECT_EQ(0u, HeapSize(g_ModuleState.hBaseHeap, 0, pvZero));
    ModuleFree(pvZero);
    ModuleFree(pv);
    ModuleFree(nullptr);
}

TEST_F(ModuleHeap, BlocksCycleThroughProcessorHeapsWithHeader) {
    Init(k9x, 4, 2);
    ASSERT_EQ(3u, g_ModuleState.dwHeapMask);
    void* blocks[6];
    for (int i = 0; i < 6; ++i) {
        blocks[i] = ModuleAlloc(i == 5 ? 0 : 16);
        ASSERT_NE(nullptr, blocks[i]);
        HANDLE hExpected = g_ModuleState.phProcessorHeaps[i % 4];
        EXPECT_EQ(hExpected, HeaderHeap(blocks[i])) << "block " << i;
        EXPECT_EQ((i == 5 ? 0u : 16u) + kHeader, HeapSize(hExpected, 0, static_cast<BYTE*>(blocks[i]) - kHeader));
        EXPECT_EQ(0u, reinterpret_cast<UINT_PTR>(blocks[i]) % MEMORY_ALLOCATION_ALIGNMENT) << "block " << i;
    }
    for (void* pv : blocks) ModuleFree(pv);
}

TEST_F(ModuleHeap, ReallocStaysInItsHeapAndKeepsContents) {
    for (DWORD dwProcessors : {1u, 2u}) {
        Init(k9x, 4, dwProcessors);
        ModuleFree(ModuleAlloc(1));  // move the round-robin counter on
        char* pb = static_cast<char*>(ModuleAlloc(8));
        ASSERT_NE(nullptr, pb);
        HANDLE hHeap = dwProcessors > 1 ? HeaderHeap(pb) : nullptr;
        memcpy(pb, "abcdefgh", 8);
        pb = static_cast<char*>(ModuleRealloc(pb, 100000));
        ASSERT_NE(nullptr, pb);
        EXPECT_EQ(0, memcmp(pb, "abcdefgh", 8));
        if (hHeap) {
            EXPECT_EQ(hHeap, HeaderHeap(pb));
            EXPECT_EQ(g_ModuleState.phProcessorHeaps[1], hHeap);
        }
        // A request the heap refuses leaves the block valid and unchanged.
        EXPECT_EQ(nullptr, ModuleRealloc(pb, kRefused));
        EXPECT_EQ(0, memcmp(pb, "abcdefgh", 8));
        if (hHeap) EXPECT_EQ(hHeap, HeaderHeap(pb));
        ModuleFree(pb);
        TermModule();
    }
}

TEST_F(ModuleHeap, ReallocOfNullAllocates) {
    Init(k9x, 4, 2);
    void* pv = ModuleRealloc(nullptr, 32);
    ASSERT_NE(nullptr, pv);
    EXPECT_EQ(g_ModuleState.phProcessorHeaps[0], HeaderHeap(pv));
    EXPECT_EQ(1u, g_ModuleState.dwNextHeap);
    ModuleFree(pv);
    ModuleFree(nullptr);
}

TEST_F(ModuleHeap, HugeRequestsFailWithNull) {
    for (DWORD dwProcessors : {1u, 4u}) {
        Init(k9x, 4, dwProcessors);
        EXPECT_EQ(nullptr, ModuleAlloc(static_cast<SIZE_T>(-4)));  // would wrap with the header
        void* pv = ModuleAlloc(0);
        EXPECT_EQ(nullptr, ModuleRealloc(pv, static_cast<SIZE_T>(-4)));
        ModuleFree(pv);
        EXPECT_EQ(nullptr, ModuleAlloc(kRefused));
        TermModule();
    }
}
}  // namespace

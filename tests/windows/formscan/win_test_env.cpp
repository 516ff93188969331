// The scanner tests' services under Wine: the real module heap (its base
// heap, counted with HeapWalk) and the process's ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include "heap_walk.h"
#include "platform/module_heap.h"
#include "platform/module_state.h"
#include "tests/host/formscan/formscan_test_env.h"

namespace {

// The module frame the scanner's heap needs, for the whole test program.
class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        PlatformFacts facts{VER_PLATFORM_WIN32_NT, 5, 1};  // the base heap alone
        ASSERT_EQ(S_OK, InitModule(nullptr, GetModuleHandleA(nullptr), &facts));
    }
    void TearDown() override { TermModule(); }
};

const ::testing::Environment* const g_pModuleEnvironment = ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

}  // namespace

bool TestUseCodePage(unsigned nCodePage) { return GetACP() == nCodePage; }

long TestHeapLiveBlocks() {
    return HeapBusyBlocks(g_ModuleState.hBaseHeap);
}

bool TestCanInjectFailures() { return false; }
void TestHeapFailAfter(long) {}

// The block count the scanner tests rely on follows the module heap.
TEST(WineTestEnvironment, HeapWalkCountsModuleBlocks) {
    const long lBefore = TestHeapLiveBlocks();
    void* pv1 = ModuleAlloc(10);
    void* pv2 = ModuleAlloc(100000);
    EXPECT_EQ(TestHeapLiveBlocks(), lBefore + 2);
    ModuleFree(pv1);
    EXPECT_EQ(TestHeapLiveBlocks(), lBefore + 1);
    ModuleFree(pv2);
    EXPECT_EQ(TestHeapLiveBlocks(), lBefore);
}

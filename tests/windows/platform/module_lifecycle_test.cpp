// Lock count, clean-up list and the detach order.
#include <gtest/gtest.h>

#include <vector>

#include "platform/module_heap.h"
#include "platform/module_state.h"

namespace {
std::vector<DWORD_PTR> g_cleanupOrder;
std::vector<int> g_classInitCalls;
int g_releases = 0;
bool g_pointerClearedBeforeCleanup = false;
ClassTableEntry g_FakeTable[2];

void RecordCleanup(DWORD_PTR dwArgument) {
    g_cleanupOrder.push_back(dwArgument);
    g_pointerClearedBeforeCleanup = g_FakeTable[0].pClassObject == nullptr && g_releases == 1;
    ModuleFree(ModuleAlloc(4));  // heaps are still alive while callbacks run
}

void RecordClassInit(BOOL bAttach) { g_classInitCalls.push_back(bAttach ? 1 : 0); }

// Counts Release calls; stands in for the cached class object.
struct FakeClassObject : IUnknown {
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { *ppv = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(++g_releases); }
};

TEST(ModuleLifecycle, DllCanUnloadNowFollowsTheLockCount) {
    ASSERT_EQ(S_OK, InitModule(nullptr, GetModuleHandleA(nullptr)));
    struct Step { LONG (*pfn)(); LONG lCount; HRESULT hrUnload; };
    const Step steps[] = {
        {LockModule, 1, S_FALSE}, {LockModule, 2, S_FALSE}, {UnlockModule, 1, S_FALSE},
        {UnlockModule, 0, S_OK},  {UnlockModule, -1, S_FALSE}, {LockModule, 0, S_OK},
    };
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    for (const Step& s : steps) {
        EXPECT_EQ(s.lCount, s.pfn());
        EXPECT_EQ(s.lCount, g_ModuleState.lLockCount);
        EXPECT_EQ(s.hrUnload, DllCanUnloadNow()) << "count " << s.lCount;
    }
    TermModule();
}

TEST(ModuleLifecycle, DetachReleasesClassObjectOnceThenRunsCleanupsNewestFirst) {
    FakeClassObject classObject;
    g_FakeTable[0] = ClassTableEntry{&GUID_NULL, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, RecordClassInit};
    g_FakeTable[1] = ClassTableEntry{};
    HINSTANCE hInstance = GetModuleHandleA(nullptr);
    ASSERT_EQ(S_OK, InitModule(g_FakeTable, hInstance));
    EXPECT_EQ(g_FakeTable, g_ModuleState.pClassTable);
    EXPECT_EQ(hInstance, g_ModuleState.hInstance);
    EXPECT_EQ(hInstance, g_ModuleState.hTypeLibModule);
    EXPECT_EQ(std::vector<int>{1}, g_classInitCalls);

    g_FakeTable[0].pClassObject = &classObject;
    ASSERT_EQ(S_OK, AddCleanup(RecordCleanup, 'A'));
    ASSERT_EQ(S_OK, AddCleanup(RecordCleanup, 'B'));
    ASSERT_EQ(S_OK, AddCleanup(RecordCleanup, 'A'));  // the same pair again runs again

    EXPECT_EQ(S_OK, TermModule());
    EXPECT_EQ(1, g_releases);
    EXPECT_EQ(nullptr, g_FakeTable[0].pClassObject);
    EXPECT_TRUE(g_pointerClearedBeforeCleanup);
    EXPECT_EQ((std::vector<DWORD_PTR>{'A', 'B', 'A'}), g_cleanupOrder);
    EXPECT_EQ((std::vector<int>{1, 0}), g_classInitCalls);
    EXPECT_EQ(nullptr, g_ModuleState.pCleanupList);

    EXPECT_EQ(S_OK, TermModule());  // a second detach does nothing
    EXPECT_EQ(1, g_releases);
    EXPECT_EQ(3u, g_cleanupOrder.size());
}
}  // namespace

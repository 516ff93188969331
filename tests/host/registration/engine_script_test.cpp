// The registry script engine over the in-memory registry: the shared case
// tables, and what only this registry can stage (keys that refuse writes or
// closing, memory that runs out).
#include "script_run.h"

namespace {
class EngineScriptTest : public ::testing::Test {
protected:
    void SetUp() override { HostSetCodePage(1252); }
    void TearDown() override { HostHeapFailAfter(-1); }
};

TEST_F(EngineScriptTest, WritesAndRemovesKeysAndValues) {
    MemoryRunner runner;
    RunCases(runner, WritingCases());
}

TEST_F(EngineScriptTest, FailuresEndTheRunAndRollBackTheFailingRootBlock) {
    MemoryRunner runner;
    RunCases(runner, FailureCases());
}

TEST_F(EngineScriptTest, RefusesWhatCannotBeHandledSafely) {
    MemoryRunner runner;
    RunCases(runner, RefusalCases());
}

std::string NestedScript(int nDepth) {
    std::string strScript = "HKCU {";
    for (int i = 0; i < nDepth; ++i) strScript += " K {";
    for (int i = 0; i <= nDepth; ++i) strScript += " }";
    return strScript;
}

// The registry holds 512 levels; deeper nesting is refused before it can
// exhaust the stack, in either direction.
TEST_F(EngineScriptTest, NestingIsBoundedByTheRegistryDepth) {
    ScriptRun run;
    EXPECT_EQ(run.Register(NestedScript(500)), S_OK);
    EXPECT_EQ(run.Dump().size(), 500u);
    EXPECT_EQ(run.Unregister(NestedScript(500)), S_OK);
    EXPECT_EQ(run.Dump(), Lines{});

    EXPECT_EQ(run.Register(NestedScript(100000)), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Unregister(NestedScript(100000)), DISP_E_EXCEPTION);
}

TEST_F(EngineScriptTest, KeyOpenedOnlyForReadingIsStillWalked) {
    ScriptRun run;
    run.Seed({"Locked\\Sub [] old"});
    ASSERT_EQ(run.registry.SetReadOnly(HKEY_CURRENT_USER, "Locked", true), ERROR_SUCCESS);

    // Its own value is refused in silence; its existing subkey is written.
    EXPECT_EQ(run.Register("HKCU { Locked = s new { Sub = s v } }"), S_OK);
    EXPECT_EQ(run.Dump(), Sorted(Lines{"Locked", "Locked\\Sub", "Locked\\Sub [] REG_SZ \"v\""}));

    // A subkey that can be neither opened nor created fails the run.
    EXPECT_EQ(run.Register("HKCU { Locked { New } }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Dump(), Sorted(Lines{"Locked", "Locked\\Sub", "Locked\\Sub [] REG_SZ \"v\""}));

    // Unregistration cannot delete it and goes on.
    EXPECT_EQ(run.Unregister("HKCU { Locked { Sub } After }"), S_OK);
    EXPECT_EQ(run.Dump(), Sorted(Lines{"Locked"}));
}

TEST_F(EngineScriptTest, KeyThatFailsToCloseFailsTheRun) {
    ScriptRun run;
    run.registry.FailNextCloses(1);
    EXPECT_EQ(run.Register("HKCU { A B }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Dump(), Lines{});

    run.Seed({"A"});
    run.registry.FailNextCloses(1);
    EXPECT_EQ(run.Unregister("HKCU { A }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Dump(), Lines{"A"});
}

TEST_F(EngineScriptTest, OutOfMemoryBeforeAnyRegistryCall) {
    ScriptRun run;
    HostHeapFailAfter(0);
    EXPECT_EQ(run.Register("HKCU { A }"), E_OUTOFMEMORY);
    HostHeapFailAfter(-1);
    EXPECT_EQ(run.Dump(), Lines{});
}

}  // namespace

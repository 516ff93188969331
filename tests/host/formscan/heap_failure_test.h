// The fixture of the tests that make module-heap allocations fail: skipped
// where the build cannot inject failures (under Wine), and the heap made
// whole again after each test.
#pragma once
#include <gtest/gtest.h>

#include "tests/host/formscan/formscan_test_env.h"

class HeapFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestCanInjectFailures()) GTEST_SKIP() << "no allocation-failure injection in this build";
    }
    void TearDown() override {
        if (TestCanInjectFailures()) TestHeapFailAfter(-1);
    }
};

// The fixture of the file-method tests: a fresh scratch folder per test, and
// after each test no module-heap block left and no handle left open on
// anything in the folder.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "scratch_folder.h"
#include "webmng_test_support.h"

// What the call published, or kNothing.
constexpr wchar_t kNothing[] = L"<nothing published>";
inline std::wstring Published() {
    PublishedError error = TakeError();
    return error.bPresent ? error.description : kNothing;
}

inline BSTR NewBstr(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

class FileMethodTest : public ::testing::Test {
protected:
    explicit FileMethodTest(const char* pszProgram) : m_scratch(pszProgram) {}

    void SetUp() override {
        ClearError();
        ASSERT_TRUE(m_scratch.Create());
        m_lHeapBlocks = ModuleHeapBusyBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(m_lHeapBlocks, ModuleHeapBusyBlocks()) << "module heap block left behind";
        std::vector<std::wstring> held = m_scratch.Remove();
        EXPECT_TRUE(held.empty()) << "a handle was left open on " << held.size() << " entries";
    }

    std::wstring Scratch(const std::wstring& rel = L"") const { return m_scratch.Path(rel); }

    TestWebMng m_webmng;

private:
    ScratchFolder m_scratch;
    long m_lHeapBlocks = 0;
};

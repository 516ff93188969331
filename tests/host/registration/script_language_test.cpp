#include "registration/replacement_map.h"
#include "registration/script_expand.h"
#include "registration/script_tokens.h"
#include "platform/task_memory.h"
#include "testing/host_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct ExpandCase {
    const char* pszScript;
    HRESULT hr;
    const char* pszExpanded;  // when hr is S_OK
};

class ExpandVariablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostSetCodePage(932);
        ASSERT_EQ(m_map.Add(u"Module", u"C:\\It''s\\VARO.DLL"), S_OK);
        ASSERT_EQ(m_map.Add(u"A234567890123456789012345678901", u"31"), S_OK);
        ASSERT_EQ(m_map.Add(u"A2345678901234567890123456789012", u"32"), S_OK);
        ASSERT_EQ(m_map.Add(u"Path", u"D:\\\u8868\u30bd\\%Module%"), S_OK);
        ASSERT_EQ(m_map.Add(u"with space", u"sp"), S_OK);
    }
    void TearDown() override { HostHeapFailAfter(-1); }

    HRESULT Expand(const char* pszScript, std::string* pstr) {
        long lLiveBefore = HostHeapLiveBlocks();
        char* psz = nullptr;
        HRESULT hr = ExpandVariables(pszScript, m_map, &psz);
        if (psz) *pstr = psz;
        TaskMemFree(psz);
        EXPECT_EQ(HostHeapLiveBlocks(), lLiveBefore);
        EXPECT_TRUE(SUCCEEDED(hr) || psz == nullptr);
        return hr;
    }
    ReplacementMap m_map;
};

TEST_F(ExpandVariablesTest, ExpandsByTheTable) {
    const ExpandCase cases[] = {
        {"", S_OK, ""},
        {"100%% sure %%%%", S_OK, "100% sure %%"},
        {"'%MODULE%' %Module% %module%", S_OK, "'C:\\It''s\\VARO.DLL' C:\\It''s\\VARO.DLL C:\\It''s\\VARO.DLL"},
        // A value arrives as the ANSI conversion gives it and is not expanded again.
        {"x%Path%y", S_OK, "xD:\\\x95\x5c\x83\x5c\\%Module%y"},
        {"%with space%", S_OK, "sp"},
        {"%A234567890123456789012345678901%", S_OK, "31"},
        {"%A2345678901234567890123456789012%", E_FAIL, nullptr},
        {"%A2345678901234567890123456789012", E_FAIL, nullptr},
        {"%Unknown%", DISP_E_EXCEPTION, nullptr},
        {"HKCU { %Module }", DISP_E_EXCEPTION, nullptr},
        {"50%", DISP_E_EXCEPTION, nullptr},
        // A double-byte character is copied whole, even before a NUL-free end.
        {"\x95\x5c%%\x83\x7b", S_OK, "\x95\x5c%\x83\x7b"},
    };
    for (const ExpandCase& c : cases) {
        std::string strExpanded;
        EXPECT_EQ(Expand(c.pszScript, &strExpanded), c.hr) << c.pszScript;
        if (c.hr == S_OK) EXPECT_EQ(strExpanded, c.pszExpanded) << c.pszScript;
    }
}

// The buffer starts at twice the text's length: a long value forces several
// doublings, and failing any of the allocations gives E_OUTOFMEMORY.
TEST_F(ExpandVariablesTest, GrowsItsBufferAndReportsOutOfMemory) {
    std::u16string longValue(1000, u'v');
    ASSERT_EQ(m_map.Add(u"Long", longValue.c_str()), S_OK);
    std::string strExpanded;
    ASSERT_EQ(Expand("<%Long%>", &strExpanded), S_OK);
    EXPECT_EQ(strExpanded, "<" + std::string(1000, 'v') + ">");

    int nFailures = 0;
    for (long nAllowed = 0; nAllowed < 20; ++nAllowed) {
        HostHeapFailAfter(nAllowed);
        HRESULT hr = Expand("<%Long%>", &strExpanded);
        HostHeapFailAfter(-1);
        if (hr == S_OK) break;
        EXPECT_EQ(hr, E_OUTOFMEMORY) << nAllowed;
        ++nFailures;
    }
    EXPECT_GE(nFailures, 5);  // the first block, the value's conversion and the doublings
}

struct TokenCase {
    const char* pszText;
    std::vector<std::string> tokens;  // read in order
    HRESULT hrLast;                   // status of the read after them
};

TEST(ReadTokenTest, ReadsTokensByTheTable) {
    HostSetCodePage(932);
    const TokenCase cases[] = {
        {"'It''s' ''", {"It's", ""}, DISP_E_EXCEPTION},
        {" \t\r\n'a b = { }'c d", {"a b = { }", "c", "d"}, DISP_E_EXCEPTION},
        {"x=y {abc} }}", {"x=y", "{abc}", "}}"}, DISP_E_EXCEPTION},
        {"a'b'c 'x' ", {"a'b'c", "x"}, DISP_E_EXCEPTION},
        {"'unterminated", {}, DISP_E_EXCEPTION},
        {"'ends in a doubled quote''", {}, DISP_E_EXCEPTION},
        {" \t\r\n", {}, DISP_E_EXCEPTION},
        // Trail bytes 0x5C, 0x7B, 0x7D stay inside their characters.
        {"\x95\x5c\x83\x7b\x83\x7d '\x83\x5c'''", {"\x95\x5c\x83\x7b\x83\x7d", "\x83\x5c'"}, DISP_E_EXCEPTION},
    };
    for (const TokenCase& c : cases) {
        ScriptCursor cursor(c.pszText);
        char szToken[kTokenBufferSize];
        for (const std::string& strExpected : c.tokens) {
            ASSERT_EQ(cursor.ReadToken(szToken), S_OK) << c.pszText;
            EXPECT_EQ(std::string(szToken), strExpected) << c.pszText;
        }
        EXPECT_EQ(cursor.ReadToken(szToken), c.hrLast) << c.pszText;
    }
}

// A quoted token may hold 4094 bytes (3 must be free before each character
// is copied); a bare one as many as fit with the terminator. Nothing is
// written past the buffer either way.
TEST(ReadTokenTest, RefusesTokensTooLongForTheBuffer) {
    HostSetCodePage(932);
    struct LengthCase {
        std::string strText;
        HRESULT hr;
        std::size_t cbToken;
    };
    const LengthCase cases[] = {
        {"'" + std::string(4094, 'q') + "'", S_OK, 4094},
        {"'" + std::string(4095, 'q') + "'", DISP_E_EXCEPTION, 0},
        {"'" + std::string(4093, 'q') + "\x95\x5c'", S_OK, 4095},
        {"'" + std::string(4093, 'q') + "'''", S_OK, 4094},
        {"'" + std::string(4093, 'q') + "'''''", DISP_E_EXCEPTION, 0},
        {std::string(4095, 'b'), S_OK, 4095},
        {std::string(4096, 'b'), DISP_E_EXCEPTION, 0},
        {std::string(4094, 'b') + "\x95\x5c", DISP_E_EXCEPTION, 0},
    };
    for (const LengthCase& c : cases) {
        std::vector<char> buffer(kTokenBufferSize + 16, '#');
        ScriptCursor cursor(c.strText.c_str());
        EXPECT_EQ(cursor.ReadToken(buffer.data()), c.hr) << c.strText.size();
        if (c.hr == S_OK) EXPECT_EQ(std::string(buffer.data()).size(), c.cbToken);
        for (std::size_t i = kTokenBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#');
    }
}

TEST(ScriptTablesTest, RootKeysAndValueTypes) {
    HostSetCodePage(1252);
    const std::pair<const char*, HKEY> roots[] = {
        {"HKCR", HKEY_CLASSES_ROOT},          {"hkcu", HKEY_CURRENT_USER},
        {"HKLM", HKEY_LOCAL_MACHINE},         {"HKU", HKEY_USERS},
        {"HKPD", HKEY_PERFORMANCE_DATA},      {"HKDD", HKEY_DYN_DATA},
        {"HKCC", HKEY_CURRENT_CONFIG},        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"hkey_current_user", HKEY_CURRENT_USER}, {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", HKEY_USERS},           {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
        {"HKEY_DYN_DATA", HKEY_DYN_DATA},     {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {"HKCR\\", nullptr},                  {"HKEY", nullptr},
        {"", nullptr},
    };
    for (const auto& root : roots) EXPECT_EQ(LookupRootKey(root.first), root.second) << root.first;
    EXPECT_EQ(LookupValueType("s"), VT_BSTR);
    EXPECT_EQ(LookupValueType("D"), VT_UI4);
    EXPECT_EQ(LookupValueType("b"), VT_UI1);
    EXPECT_EQ(LookupValueType("sz"), VT_EMPTY);
    EXPECT_EQ(LookupValueType(""), VT_EMPTY);
}
}  // namespace

// Registry scripts run against Wine's registry, rooted beneath a fresh key
// HKEY_CURRENT_USER\Software\VaroRegistryTest-<process>-<tick> that each test
// removes again.
#include "registration/registry_script_engine.h"
#include "registration/registry_win32.h"
#include "registration/replacement_map.h"
#include "registry_dump.h"
#include "registry_script_cases.h"
#include "platform/module_state.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {
const std::string kClass = "CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}";

std::string AnsiOf(const wchar_t* pszWide) {
    char sz[1024];
    WideCharToMultiByte(CP_ACP, 0, pszWide, -1, sz, sizeof sz, nullptr, nullptr);
    return sz;
}

std::string ReadFileBytes(const std::string& strPath) {
    std::string strText;
    if (FILE* pFile = std::fopen(strPath.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t cb; (cb = std::fread(buf, 1, sizeof buf, pFile)) > 0;) strText.append(buf, cb);
        std::fclose(pFile);
    }
    return strText;
}

class RegistryScriptTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_EQ(InitModule(nullptr, GetModuleHandleA(nullptr)), S_OK);  // the module heap
        m_strTestKey = "VaroRegistryTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ("Software\\" + m_strTestKey).c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &m_hTestKey, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(m_hTestKey);
        HKEY hSoftware = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, &hSoftware), ERROR_SUCCESS);
        RegistryScriptEngine engine(m_registry, m_replacements);
        EXPECT_EQ(engine.DeleteKeyTree(hSoftware, m_strTestKey.c_str()), ERROR_SUCCESS);
        RegCloseKey(hSoftware);
        m_replacements.Clear();
        TermModule();
    }

    HKEY TestKey() const { return m_hTestKey; }
    // Removes every subkey and value of the test key.
    void EmptyTestKey() {
        RegistryScriptEngine engine(m_registry, m_replacements);
        char szName[MAX_PATH];
        for (DWORD cch = MAX_PATH; RegEnumKeyExA(m_hTestKey, 0, szName, &cch, nullptr, nullptr, nullptr, nullptr) ==
                                   ERROR_SUCCESS;
             cch = MAX_PATH)
            ASSERT_EQ(engine.DeleteKeyTree(m_hTestKey, szName), ERROR_SUCCESS);
        for (DWORD cch = MAX_PATH; RegEnumValueA(m_hTestKey, 0, szName, &cch, nullptr, nullptr, nullptr, nullptr) ==
                                   ERROR_SUCCESS;
             cch = MAX_PATH)
            ASSERT_EQ(RegDeleteValueA(m_hTestKey, szName), ERROR_SUCCESS);
    }

    // A root block of HKCU whose block is the test key's.
    std::string Root(const std::string& strBlock) {
        return "HKCU { NoRemove Software { NoRemove '" + m_strTestKey + "' " + strBlock + " } }";
    }
    HRESULT Run(const std::string& strScript, bool bRegister) {
        RegistryScriptEngine engine(m_registry, m_replacements);
        return engine.RunScript(strScript.c_str(), bRegister);
    }
    Lines Dump() { return DumpRegistry(m_hTestKey); }

    // "A\B" makes a key, "A\B [name] text" a REG_SZ value.
    void Seed(const Lines& lines) {
        for (const std::string& strLine : lines) {
            std::size_t nBracket = strLine.find(" [");
            HKEY hKey = nullptr;
            ASSERT_EQ(RegCreateKeyExA(m_hTestKey, strLine.substr(0, nBracket).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
                      ERROR_SUCCESS);
            if (nBracket != std::string::npos) {
                std::size_t nClose = strLine.find("] ", nBracket);
                std::string strName = strLine.substr(nBracket + 2, nClose - nBracket - 2);
                std::string strText = strLine.substr(nClose + 2);
                RegSetValueExA(hKey, strName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(strText.c_str()),
                               static_cast<DWORD>(strText.size() + 1));
            }
            RegCloseKey(hKey);
        }
    }

    Win32Registry m_registry;
    ReplacementMap m_replacements;
    std::string m_strTestKey;
    HKEY m_hTestKey = nullptr;
};

// The shared case tables' registry: HKEY_CURRENT_USER itself is the test
// key for the length of each run, so the scripts' own root lands beneath it.
class Win32Runner : public ScriptRunner {
public:
    Win32Runner(RegistryScriptTest& test) : m_test(test) {}
    void Reset() override { m_test.EmptyTestKey(); }
    void Seed(const Lines& lines) override { m_test.Seed(lines); }
    HRESULT Run(const std::string& strScript, bool bRegister) override {
        EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, m_test.TestKey()), ERROR_SUCCESS);
        HRESULT hr = m_test.Run(strScript, bRegister);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        return hr;
    }
    Lines Dump() override { return m_test.Dump(); }

private:
    RegistryScriptTest& m_test;
};

TEST_F(RegistryScriptTest, WritesAndRemovesKeysAndValues) {
    Win32Runner runner(*this);
    RunCases(runner, WritingCases());
}

TEST_F(RegistryScriptTest, FailuresEndTheRunAndRollBackTheFailingRootBlock) {
    Win32Runner runner(*this);
    RunCases(runner, FailureCases());
}

TEST_F(RegistryScriptTest, RefusesWhatCannotBeHandledSafely) {
    Win32Runner runner(*this);
    RunCases(runner, RefusalCases());
}

// The registry refuses a non-volatile key beneath a volatile one: the key can
// be neither opened nor created, and the root block is taken back.
TEST_F(RegistryScriptTest, KeyThatCannotBeCreatedFailsTheRun) {
    HKEY hVolatile = nullptr, hChild = nullptr;
    ASSERT_EQ(RegCreateKeyExA(m_hTestKey, "Volatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &hVolatile, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(hVolatile, "Child", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &hChild,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hChild);
    RegCloseKey(hVolatile);

    EXPECT_EQ(Run(Root("{ Before = s b Volatile { New } }"), true), DISP_E_EXCEPTION);
    EXPECT_EQ(Dump(), Sorted({"Volatile", "Volatile\\Child"}));
}

TEST_F(RegistryScriptTest, RegistersAndUnregistersTheWebMngScript) {
    std::string strScript = ReadFileBytes(SourcePath("resources/webmng.rgs"));
    ASSERT_EQ(strScript.size(), 596u);
    ASSERT_EQ(strScript.compare(0, 4, "HKCR"), 0);
    // The test key stands in for HKEY_CLASSES_ROOT.
    strScript = Root(strScript.substr(4));

    const wchar_t* pszModule = GetACP() == 932 ? L"C:\\It's\\\x8868\x793a\\VARO.DLL" : L"C:\\It's\\Caf\xe9\\VARO.DLL";
    const wchar_t* pszDoubled =
        GetACP() == 932 ? L"C:\\It''s\\\x8868\x793a\\VARO.DLL" : L"C:\\It''s\\Caf\xe9\\VARO.DLL";
    ASSERT_EQ(m_replacements.Add(reinterpret_cast<const char16_t*>(L"Module"),
                                 reinterpret_cast<const char16_t*>(pszDoubled)),
              S_OK);
    const Lines registered = Sorted(WebMngScriptEntries(AnsiOf(pszModule)));

    Seed({kClass + "\\Programmable\\Stale"});
    ASSERT_EQ(Run(strScript, true), S_OK);
    EXPECT_EQ(Dump(), registered);
    ASSERT_EQ(Run(strScript, true), S_OK);
    EXPECT_EQ(Dump(), registered);

    EXPECT_EQ(Run(strScript, false), S_OK);
    EXPECT_EQ(Dump(), Lines{"CLSID"});

    // With ProgID removed by hand the rest of the class block is only walked,
    // except that TypeLib, after InprocServer32's own block, goes.
    ASSERT_EQ(Run(strScript, true), S_OK);
    ASSERT_EQ(RegDeleteKeyA(m_hTestKey, (kClass + "\\ProgID").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(Run(strScript, false), S_OK);
    EXPECT_EQ(Dump(), Sorted({"CLSID", kClass, kClass + " [] REG_SZ \"WebMng Class\"", kClass + "\\InprocServer32",
                              kClass + "\\InprocServer32 [] REG_SZ \"" + AnsiOf(pszModule) + "\"",
                              kClass + "\\InprocServer32 [ThreadingModel] REG_SZ \"Apartment\"",
                              kClass + "\\Programmable", kClass + "\\VersionIndependentProgID",
                              kClass + "\\VersionIndependentProgID [] REG_SZ \"VARO.WebMng\""}));
}
}  // namespace

// Registry scripts run against Wine's registry, rooted beneath a fresh key
// HKEY_CURRENT_USER\Software\VaroRegistryTest-<process>-<tick> that each test
// removes again.
#include "registration/registry_script_engine.h"
#include "registration/registry_win32.h"
#include "registration/replacement_map.h"
#include "registry_dump.h"
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
protected:
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

struct WineCase {
    const char* pszName;
    Lines seed;
    std::string strBlock;
    HRESULT hrRegister;
    Lines afterRegister;
    HRESULT hrUnregister;
    Lines afterUnregister;
};

TEST_F(RegistryScriptTest, WritesAndRemovesWhatTheScriptNames) {
    const WineCase cases[] = {
        {"values of every type",
         {},
         "{ App = s 'Apartment' { val Count = d 10 val Max = d 4294967295 val Bytes = b 0aFF val Odd = B 0g "
         "val None = b '' } }",
         S_OK,
         {"App", "App [] REG_SZ \"Apartment\"", "App [Count] REG_DWORD 0x0000000a", "App [Max] REG_DWORD 0xffffffff",
          "App [Bytes] REG_BINARY 0a ff", "App [Odd] REG_BINARY 00", "App [None] REG_BINARY"},
         S_OK,
         {}},
        {"ForceRemove rebuilds its key empty",
         {"Foo\\Old\\Deep", "Foo [] old", "Foo [Named] n"},
         "{ ForceRemove Foo = s new { Bar } }",
         S_OK,
         {"Foo", "Foo [] REG_SZ \"new\"", "Foo\\Bar"},
         S_OK,
         {}},
        {"Delete removes a tree and creates nothing",
         {"Gone\\Sub [v] x", "Kept"},
         "{ Delete Gone = s 'not written' Kept }",
         S_OK,
         {"Kept"},
         S_OK,
         {"Kept"}},  // Gone is missing then, so the rest of the block is only walked
        {"keys with foreign subkeys stay, their listed values go",
         {"App\\Foreign", "Named [Other] z"},
         "{ App = s a { Sub = s x val Listed = s l } Plain = s y { } Named = s n }",
         S_OK,
         {"App", "App [] REG_SZ \"a\"", "App [Listed] REG_SZ \"l\"", "App\\Foreign", "App\\Sub",
          "App\\Sub [] REG_SZ \"x\"", "Named", "Named [] REG_SZ \"n\"", "Named [Other] REG_SZ \"z\"", "Plain",
          "Plain [] REG_SZ \"y\""},
         S_OK,
         {"App", "App [] REG_SZ \"a\"", "App\\Foreign"}},
        {"number forms of the system conversion",
         {},
         "{ A { val Spaced = d ' 42 ' val VbHex = d &H1F } }",
         S_OK,
         {"A", "A [Spaced] REG_DWORD 0x0000002a", "A [VbHex] REG_DWORD 0x0000001f"},
         S_OK,
         {}},
        {"a C hexadecimal number", {}, "{ A = d 0x1F }", DISP_E_EXCEPTION, {}, S_OK, {}},
        {"a number text the conversion refuses", {}, "{ A = d 12x }", DISP_E_EXCEPTION, {}, S_OK, {}},
        {"a number too large", {}, "{ A = d 4294967296 }", DISP_E_EXCEPTION, {}, S_OK, {}},
    };
    for (const WineCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        Seed(c.seed);
        EXPECT_EQ(Run(Root(c.strBlock), true), c.hrRegister);
        EXPECT_EQ(Dump(), Sorted(c.afterRegister));
        EXPECT_EQ(Run(Root(c.strBlock), false), c.hrUnregister);
        EXPECT_EQ(Dump(), Sorted(c.afterUnregister));
        // Delete on registration removes whole trees and creates nothing.
        EXPECT_EQ(Run(Root("{ Delete Gone Delete Kept Delete App Delete Named Delete Foo Delete Plain Delete A }"), true), S_OK);
        EXPECT_EQ(Dump(), Lines{});
    }
}

TEST_F(RegistryScriptTest, FailingRootBlockIsRolledBackAndEarlierBlocksStay) {
    std::string strScript = Root("{ First = s 1 }") + "\r\n" + Root("{ Second = s 2 { Third = q 3 } }");
    EXPECT_EQ(Run(strScript, true), DISP_E_EXCEPTION);
    EXPECT_EQ(Dump(), Sorted({"First", "First [] REG_SZ \"1\""}));
    EXPECT_EQ(Run(strScript, false), S_OK);
    EXPECT_EQ(Dump(), Lines{});
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
    const Lines registered = Sorted({
        "CLSID", kClass, kClass + " [] REG_SZ \"WebMng Class\"", kClass + "\\InprocServer32",
        kClass + "\\InprocServer32 [] REG_SZ \"" + AnsiOf(pszModule) + "\"",
        kClass + "\\InprocServer32 [ThreadingModel] REG_SZ \"Apartment\"", kClass + "\\ProgID",
        kClass + "\\ProgID [] REG_SZ \"VARO.WebMng.1\"", kClass + "\\Programmable", kClass + "\\TypeLib",
        kClass + "\\TypeLib [] REG_SZ \"{A47E5D11-8C23-4B9A-B6E2-5D0F3C19A7E8}\"",
        kClass + "\\VersionIndependentProgID", kClass + "\\VersionIndependentProgID [] REG_SZ \"VARO.WebMng\"",
        "VARO.WebMng", "VARO.WebMng [] REG_SZ \"WebMng Class\"", "VARO.WebMng\\CLSID",
        "VARO.WebMng\\CLSID [] REG_SZ \"{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\"", "VARO.WebMng\\CurVer",
        "VARO.WebMng\\CurVer [] REG_SZ \"VARO.WebMng.1\"", "VARO.WebMng.1", "VARO.WebMng.1 [] REG_SZ \"WebMng Class\"",
        "VARO.WebMng.1\\CLSID", "VARO.WebMng.1\\CLSID [] REG_SZ \"{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\"",
    });

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

// The script the library carries for WebMng, read from the source tree.
#include "script_run.h"

#include <fstream>
#include <iterator>

namespace {
const std::string kClass = "CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}";

std::string ReadWebMngScript() {
    std::ifstream file(VARO_WEBMNG_RGS, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}


class WebMngScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostSetCodePage(932);
        m_strScript = ReadWebMngScript();
        ASSERT_EQ(m_strScript.size(), 596u);
        // The module path arrives with its single quotes doubled.
        ASSERT_EQ(m_run.replacements.Add(u"Module", u"C:\\It''s\\VARO.DLL"), S_OK);
    }
    ScriptRun m_run;
    std::string m_strScript;
};

TEST_F(WebMngScriptTest, RegistersItsTableAndUnregistersAllButClsid) {
    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Sorted(WebMngScriptEntries("C:\\It's\\VARO.DLL")));
    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Sorted(WebMngScriptEntries("C:\\It's\\VARO.DLL")));

    EXPECT_EQ(m_run.Unregister(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Lines{"CLSID"});
    EXPECT_EQ(m_run.Unregister(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Lines{"CLSID"});
}

// While the other bitness's DLL is registered, unregistration removes the
// class key alone: the ProgIDs, which both registry views share, stay until
// the last DLL goes, and registration writes them again.
TEST_F(WebMngScriptTest, ClassKeysOnlyKeepsTheSharedProgIds) {
    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    // Everything but the class key and what lies beneath it.
    Lines progIds;
    for (const std::string& entry : WebMngScriptEntries("C:\\It's\\VARO.DLL"))
        if (entry.compare(0, 6, "CLSID\\") != 0) progIds.push_back(entry);
    progIds = Sorted(progIds);
    ASSERT_EQ(progIds.at(1), "VARO.WebMng");

    EXPECT_EQ(m_run.UnregisterClassKeys(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), progIds);
    EXPECT_EQ(m_run.UnregisterClassKeys(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), progIds);

    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Sorted(WebMngScriptEntries("C:\\It's\\VARO.DLL")));
    EXPECT_EQ(m_run.Unregister(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Lines{"CLSID"});
}

// Only keys directly beneath a root are kept: a nested key of another name
// inside the CLSID block goes as before.
TEST_F(WebMngScriptTest, ClassKeysOnlyLooksAtTheRootsKeysAlone) {
    const std::string script = "HKCR { Shared = s 'x' { Inner = s 'y' } NoRemove CLSID { Own { Shared = s 'z' } } }";
    ASSERT_EQ(m_run.Register(script), S_OK);
    EXPECT_EQ(m_run.UnregisterClassKeys(script), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT),
              (Lines{"CLSID", "Shared", "Shared [] REG_SZ \"x\"", "Shared\\Inner", "Shared\\Inner [] REG_SZ \"y\""}));
}

TEST_F(WebMngScriptTest, ForceRemoveClearsStaleEntriesOfTheClassKey) {
    m_run.Seed({kClass + "\\Stale\\Deeper", kClass + "\\Programmable\\Stale", kClass + " [Stale] x",
                "CLSID\\{00000000-0000-0000-0000-000000000001}"},
               HKEY_CLASSES_ROOT);
    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    Lines expected = Sorted(WebMngScriptEntries("C:\\It's\\VARO.DLL"));
    expected.insert(expected.begin() + 1, "CLSID\\{00000000-0000-0000-0000-000000000001}");
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), expected);

    EXPECT_EQ(m_run.Unregister(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT), Sorted(Lines{"CLSID", "CLSID\\{00000000-0000-0000-0000-000000000001}"}));
}

// A missing key without a block makes the rest of its block walk-only: its
// later siblings stay, except after a sibling's own block (TypeLib goes), and
// the class key keeps what is left beneath it.
TEST_F(WebMngScriptTest, MissingProgIdLeavesTheRestOfTheClassBlock) {
    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    ASSERT_EQ(m_run.registry.DeleteKey(HKEY_CLASSES_ROOT, (kClass + "\\ProgID").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(m_run.Unregister(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT),
              Sorted(Lines{"CLSID", kClass, kClass + " [] REG_SZ \"WebMng Class\"", kClass + "\\InprocServer32",
                     kClass + "\\InprocServer32 [] REG_SZ \"C:\\It's\\VARO.DLL\"",
                     kClass + "\\InprocServer32 [ThreadingModel] REG_SZ \"Apartment\"", kClass + "\\Programmable",
                     kClass + "\\VersionIndependentProgID",
                     kClass + "\\VersionIndependentProgID [] REG_SZ \"VARO.WebMng\""}));
}

// Keys holding entries of others stay; the script's own values go.
TEST_F(WebMngScriptTest, SparesKeysThatHoldForeignSubkeys) {
    ASSERT_EQ(m_run.Register(m_strScript), S_OK);
    m_run.Seed({kClass + "\\InprocServer32\\Foreign"}, HKEY_CLASSES_ROOT);
    EXPECT_EQ(m_run.Unregister(m_strScript), S_OK);
    EXPECT_EQ(m_run.Dump(HKEY_CLASSES_ROOT),
              Sorted(Lines{"CLSID", kClass, kClass + " [] REG_SZ \"WebMng Class\"", kClass + "\\InprocServer32",
                     kClass + "\\InprocServer32 [] REG_SZ \"C:\\It's\\VARO.DLL\"",
                     kClass + "\\InprocServer32\\Foreign"}));
}

TEST_F(WebMngScriptTest, MissingModuleVariableTouchesNothing) {
    ScriptRun run;
    run.Seed({"VARO.WebMng.1 [] old"}, HKEY_CLASSES_ROOT);
    EXPECT_EQ(run.Register(m_strScript), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Unregister(m_strScript), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Dump(HKEY_CLASSES_ROOT), Sorted(Lines{"VARO.WebMng.1", "VARO.WebMng.1 [] REG_SZ \"old\""}));
}
}  // namespace

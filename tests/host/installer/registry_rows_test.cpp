// The package's registry rows against what the registration engine writes:
// the rows, applied as the installer applies them, give the same registry.
#include "installer/registry_rows.h"
#include "registration/registry_script_engine.h"
#include "registration/replacement_map.h"
#include "testing/host_services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {
const char kPath[] = "C:\\Program Files\\VARO\\x64\\VARO.DLL";

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> EmbeddedNames() {
    std::vector<std::string> names;
    std::stringstream list(VARO_EMBEDDED_RGS);
    for (std::string name; std::getline(list, name, ',');) names.push_back(name);
    return names;
}

std::vector<std::string> EmbeddedScripts() {
    std::vector<std::string> scripts;
    for (const std::string& name : EmbeddedNames()) scripts.push_back(ReadFile(std::string(VARO_SOURCE_DIR) + "/resources/" + name));
    return scripts;
}

std::string Attribute(const std::string& element, const std::string& name) {
    std::size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos) return "";
    at += name.size() + 3;
    std::string raw = element.substr(at, element.find('"', at) - at);
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') { out += raw[i]; continue; }
        std::size_t semi = raw.find(';', i);
        std::string entity = raw.substr(i, semi - i + 1);
        out += entity == "&amp;" ? '&' : entity == "&lt;" ? '<' : entity == "&gt;" ? '>' : '"';
        i = semi;
    }
    return out;
}

// The installer's formatted text, as far as the rows use it: [#id] is the
// file's path, [\x] is x.
std::string Resolve(const std::string& text, const std::string& strFileId) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "[\\") == 0 && i + 4 <= text.size() && text[i + 3] == ']') {
            out += text[i + 2];
            i += 3;
        } else if (text.compare(i, strFileId.size() + 3, "[#" + strFileId + "]") == 0) {
            out += kPath;
            i += strFileId.size() + 2;
        } else {
            EXPECT_NE('[', text[i]) << text;
            out += text[i];
        }
    }
    return out;
}

HKEY RootKey(const std::string& root) {
    return root == "HKCR" ? HKEY_CLASSES_ROOT : root == "HKCU" ? HKEY_CURRENT_USER
         : root == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_USERS;
}

// Writes one element into registry as the installer would.
void Apply(const std::string& element, MemoryRegistry& registry) {
    HKEY hKey = nullptr;
    ASSERT_EQ(registry.CreateKey(RootKey(Attribute(element, "Root")), Resolve(Attribute(element, "Key"), "F").c_str(), &hKey),
              ERROR_SUCCESS) << element;
    std::string name = Attribute(element, "Name"), type = Attribute(element, "Type"),
                value = Attribute(element, "Value");
    if (name == "*") {
        EXPECT_EQ("", value) << element;
    } else if (type == "string") {
        std::string text = Resolve(value, "F");
        registry.SetValue(hKey, name.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
    } else if (type == "integer") {
        DWORD dw = static_cast<DWORD>(std::stol(value));
        registry.SetValue(hKey, name.c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&dw), 4);
    } else {
        ASSERT_EQ("binary", type) << element;
        std::vector<BYTE> bytes;
        for (std::size_t i = 0; i + 1 < value.size(); i += 2) bytes.push_back(std::stoi(value.substr(i, 2), nullptr, 16));
        registry.SetValue(hKey, name.c_str(), REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    registry.CloseKey(hKey);
}

std::vector<std::string> DumpAll(const MemoryRegistry& registry) {
    std::vector<std::string> lines;
    for (HKEY hRoot : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
        for (const std::string& line : registry.Dump(hRoot)) lines.push_back(std::to_string(reinterpret_cast<std::uintptr_t>(hRoot)) + " " + line);
    return lines;
}

// What the engine writes for the scripts with the module at kPath, and what
// the rows write, side by side.
void ExpectRowsReproduce(const std::vector<std::string>& scripts) {
    MemoryRegistry engineRegistry;
    {
        ReplacementMap replacements;
        std::u16string path(kPath, kPath + sizeof kPath - 1);
        ASSERT_EQ(S_OK, replacements.Add(u"Module", path.c_str()));
        for (const std::string& script : scripts) {
            RegistryScriptEngine engine(engineRegistry, replacements);
            ASSERT_EQ(S_OK, engine.RunScript(script.c_str(), true)) << script;
        }
    }
    MemoryRegistry expanded;
    ASSERT_EQ("", ExpandScripts(scripts, expanded));
    std::string strError;
    std::vector<RegistryRow> rows = RowsOf(expanded, strError);
    ASSERT_EQ("", strError);
    MemoryRegistry installed;
    for (const RegistryRow& row : rows) Apply(WixElement(row, "F"), installed);
    EXPECT_EQ(DumpAll(engineRegistry), DumpAll(installed));
}
}  // namespace

class RegistryRows : public ::testing::Test {
protected:
    void SetUp() override { HostSetCodePage(932); }
};

// Every key and value the DLL's own scripts register, with the installed path.
TEST_F(RegistryRows, ReproduceWhatTheDllsScriptsRegister) {
    std::vector<std::string> scripts = EmbeddedScripts();
    ASSERT_GE(scripts.size(), 3u);
    ExpectRowsReproduce(scripts);

    MemoryRegistry expanded;
    ASSERT_EQ("", ExpandScripts(scripts, expanded));
    std::string strError;
    std::vector<RegistryRow> rows = RowsOf(expanded, strError);
    std::vector<std::string> elements;
    for (const RegistryRow& row : rows) elements.push_back(WixElement(row, "VARO.DLL_x64"));
    // The class's own path goes through the installer's file reference.
    EXPECT_NE(elements.end(), std::find(elements.begin(), elements.end(),
        "<RegistryValue Root=\"HKCR\" Key=\"CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\\InprocServer32\" "
        "Type=\"string\" Value=\"[#VARO.DLL_x64]\"/>"));
    EXPECT_NE(elements.end(), std::find(elements.begin(), elements.end(),
        "<RegistryValue Root=\"HKCR\" Key=\"CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\\Programmable\" "
        "Name=\"*\" Type=\"string\" Value=\"\"/>"));
}

// Every script in resources/ is embedded (varo.rc.in) and listed for the
// package: a new class's script is covered as soon as it is listed.
TEST_F(RegistryRows, EveryScriptInResourcesIsEmbeddedAndPackaged) {
    std::set<std::string> inFolder, inRc;
    std::string folder = std::string(VARO_SOURCE_DIR) + "/resources";
    DIR* dir = opendir(folder.c_str());
    ASSERT_NE(nullptr, dir);
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".rgs") == 0) inFolder.insert(name);
    }
    closedir(dir);
    std::string rc = ReadFile(folder + "/varo.rc.in");
    std::string cmake = ReadFile(folder + "/CMakeLists.txt");
    std::vector<std::string> listed = EmbeddedNames();
    std::set<std::string> inList(listed.begin(), listed.end());
    EXPECT_EQ(inFolder, inList);
    // Each listed script's variable is a REGISTRY resource of the DLL.
    for (const std::string& name : listed) {
        std::size_t at = cmake.find("/" + name + ")");
        ASSERT_NE(std::string::npos, at) << name;
        std::size_t set = cmake.rfind("set(", at);
        std::string variable = cmake.substr(set + 4, cmake.find(' ', set) - set - 4);
        EXPECT_NE(std::string::npos, rc.find("REGISTRY \"@" + variable + "@\"")) << name << " " << variable;
    }
}

// Values of every type, brackets and markup in the text, a key of its own.
TEST_F(RegistryRows, ReproduceEveryFormTheEngineWrites) {
    ExpectRowsReproduce({"HKCR { A = s 'x[1]&<\"y\">' { val N = d '10' val M = d '4294967295' val B = b '00ff10' "
                         "Empty { } val P = s '%MODULE%,[2]' } }",
                         "HKLM { NoRemove Software { 'VARO Test' { val Path = s '%MODULE%' } } }"});
}

TEST_F(RegistryRows, RefuseWhatThePackageCannotCarry) {
    struct Case {
        const char* pszScript;
        const char* pszError;
    } cases[] = {
        {"HKCR { A = s '\x83\x65' }", "HKCR\\A: text beyond printable ASCII"},
        {"HKCR { '\xb1' = s 'x' }", "HKCR\\\xb1: a name beyond printable ASCII"},
        {"HKCR { A = s '#1' }", "HKCR\\A: a string the installer would not store as written"},
        {"HKCR { A = s '' }", "HKCR\\A: a string the installer would not store as written"},
    };
    for (const Case& c : cases) {
        MemoryRegistry expanded;
        ASSERT_EQ("", ExpandScripts({c.pszScript}, expanded)) << c.pszScript;
        std::string strError;
        EXPECT_TRUE(RowsOf(expanded, strError).empty()) << c.pszScript;
        EXPECT_EQ(c.pszError, strError) << c.pszScript;
    }
    MemoryRegistry failed;
    EXPECT_EQ("script 1 failed: 0x80020009", ExpandScripts({"HKCR { A = q 'x' }"}, failed));
}

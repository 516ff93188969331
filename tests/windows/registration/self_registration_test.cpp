// DllRegisterServer and DllUnregisterServer of the built VARO.DLL, against
// the registry of the test's Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <string>

#include "import_patch.h"
#include "test_paths.h"

namespace {
const char kClassKey[] = "CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}";
const char kUploadClassKey[] = "CLSID\\{9611FB0C-8617-4C12-8A9D-7DE1A71E0FAA}";
const char kProgressClassKey[] = "CLSID\\{A67C50CE-387B-452B-9DBA-26B97EE27FA8}";
const char kResumableClassKey[] = "CLSID\\{63520737-1874-404D-91F5-C66CEC2733DE}";
const char kTypeLibKey[] = "TypeLib\\{A47E5D11-8C23-4B9A-B6E2-5D0F3C19A7E8}";
const GUID kLibId = {0xA47E5D11, 0x8C23, 0x4B9A, {0xB6, 0xE2, 0x5D, 0x0F, 0x3C, 0x19, 0xA7, 0xE8}};

typedef HRESULT(WINAPI* PFNREGISTER)();

// "key|value name" -> "type:data" for a whole subtree of HKEY_CLASSES_ROOT.
typedef std::map<std::string, std::string> RegistryDump;

void DumpKey(HKEY hParent, const std::string& path, RegistryDump& dump) {
    HKEY hKey;
    if (RegOpenKeyExA(hParent, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return;
    dump[path + "|"] += "";  // the key itself
    for (DWORD i = 0;; ++i) {
        char szName[256];
        BYTE data[1024];
        DWORD cchName = sizeof szName, cbData = sizeof data, dwType = 0;
        if (RegEnumValueA(hKey, i, szName, &cchName, nullptr, &dwType, data, &cbData) != ERROR_SUCCESS) break;
        std::string text = dwType == REG_SZ ? std::string(reinterpret_cast<char*>(data), cbData ? cbData - 1 : 0)
                                            : std::string("<type ") + std::to_string(dwType) + ">";
        dump[path + "|" + szName] = text;
    }
    for (DWORD i = 0;; ++i) {
        char szName[256];
        DWORD cchName = sizeof szName;
        if (RegEnumKeyExA(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DumpKey(hParent, path + "\\" + szName, dump);
    }
    RegCloseKey(hKey);
}

RegistryDump DumpServerKeys() {
    RegistryDump dump;
    for (const char* root : {"VARO.WebMng.1", "VARO.WebMng", kClassKey, "VARO.Upload.1", "VARO.Upload", kUploadClassKey,
                             "VARO.Progress.1", "VARO.Progress", kProgressClassKey, "VARO.Resumable.1", "VARO.Resumable",
                             kResumableClassKey})
        DumpKey(HKEY_CLASSES_ROOT, root, dump);
    return dump;
}

// The keys one class's script writes: its ProgIDs and its class key.
void AddClassKeys(RegistryDump& dump, const std::string& name, const std::string& clsid,
                  const std::string& modulePath) {
    const std::string cls = "CLSID\\" + clsid;
    const std::string text = name + " Class";
    const std::string progId = "VARO." + name;
    dump[progId + ".1|"] = text;
    dump[progId + ".1\\CLSID|"] = clsid;
    dump[progId + "|"] = text;
    dump[progId + "\\CLSID|"] = clsid;
    dump[progId + "\\CurVer|"] = progId + ".1";
    dump[cls + "|"] = text;
    dump[cls + "\\ProgID|"] = progId + ".1";
    dump[cls + "\\VersionIndependentProgID|"] = progId;
    dump[cls + "\\Programmable|"] = "";
    dump[cls + "\\InprocServer32|"] = modulePath;
    dump[cls + "\\InprocServer32|ThreadingModel"] = "Apartment";
    dump[cls + "\\TypeLib|"] = "{A47E5D11-8C23-4B9A-B6E2-5D0F3C19A7E8}";
}

RegistryDump ExpectedKeys(const std::string& modulePath) {
    RegistryDump dump;
    AddClassKeys(dump, "WebMng", "{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}", modulePath);
    AddClassKeys(dump, "Upload", "{9611FB0C-8617-4C12-8A9D-7DE1A71E0FAA}", modulePath);
    AddClassKeys(dump, "Progress", "{A67C50CE-387B-452B-9DBA-26B97EE27FA8}", modulePath);
    AddClassKeys(dump, "Resumable", "{63520737-1874-404D-91F5-C66CEC2733DE}", modulePath);
    return dump;
}

std::string DefaultValue(const std::string& key) {
    char sz[1024];
    LONG cb = sizeof sz;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), sz, &cb) != ERROR_SUCCESS) return "<missing>";
    return std::string(sz);
}

bool KeyExists(const std::string& key) {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// Removes a key and everything beneath it, whatever state a previous run
// (or the main job, which leaves VARO registered) left behind.
void DeleteTree(const std::string& key) {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return;
    char szName[256];
    DWORD cch = sizeof szName;
    while (RegEnumKeyExA(hKey, 0, szName, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        DeleteTree(key + "\\" + szName);
        cch = sizeof szName;
    }
    RegCloseKey(hKey);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

bool TypeLibRegistered() {
    ITypeLib* pLib = nullptr;
    if (FAILED(LoadRegTypeLib(kLibId, 1, 0, 0, &pLib))) return false;
    pLib->Release();
    return true;
}

// A copy of VARO.DLL loaded from its own folder.
class LoadedServer {
public:
    explicit LoadedServer(const std::string& path) : m_path(path), m_h(LoadLibraryA(path.c_str())) {}
    ~LoadedServer() { if (m_h) FreeLibrary(m_h); }
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }
    HMODULE get() const { return m_h; }
    std::string FullPath() const {
        char sz[MAX_PATH];
        DWORD cch = GetModuleFileNameA(m_h, sz, MAX_PATH);
        return std::string(sz, cch);
    }

private:
    HRESULT Call(const char* pszExport) const {
        auto pfn = reinterpret_cast<PFNREGISTER>(reinterpret_cast<void*>(GetProcAddress(m_h, pszExport)));
        return pfn ? pfn() : E_NOTIMPL;
    }
    std::string m_path;
    HMODULE m_h;
};

class SelfRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        for (const char* key : {"VARO.WebMng.1", "VARO.WebMng", kClassKey, "VARO.Upload.1", "VARO.Upload",
                                kUploadClassKey, "VARO.Progress.1", "VARO.Progress", kProgressClassKey, "VARO.Resumable.1",
                                "VARO.Resumable", kResumableClassKey, kTypeLibKey})
            DeleteTree(key);
    }
    void TearDown() override { CoUninitialize(); }

    // A fresh copy of the DLL in a folder of the build tree.
    static std::string CopyDll(const std::string& folder) {
        std::string dir = BinaryPath("selfreg-" + std::to_string(GetACP()) + "\\" + folder);
        CreateDirectoryA(BinaryPath("selfreg-" + std::to_string(GetACP())).c_str(), nullptr);
        CreateDirectoryA(dir.c_str(), nullptr);
        std::string target = dir + "\\VARO.DLL";
        EXPECT_TRUE(CopyFileA(WinePath(VARO_DLL_PATH).c_str(), target.c_str(), FALSE)) << GetLastError();
        return target;
    }
};

TEST_F(SelfRegistration, RegisterWritesTheTableAndTheTypeLibrary) {
    LoadedServer server(WinePath(VARO_DLL_PATH));
    ASSERT_NE(nullptr, server.get());
    EXPECT_TRUE(DumpServerKeys().empty());
    EXPECT_FALSE(TypeLibRegistered());

    ASSERT_EQ(S_OK, server.Register());
    const RegistryDump expected = ExpectedKeys(server.FullPath());
    EXPECT_EQ(expected, DumpServerKeys());
    EXPECT_TRUE(TypeLibRegistered());
    EXPECT_EQ(server.FullPath(), DefaultValue(std::string(kTypeLibKey) + (sizeof(void*) == 8 ? "\\1.0\\0\\win64" : "\\1.0\\0\\win32")));
    std::string helpDir = DefaultValue(std::string(kTypeLibKey) + "\\1.0\\HELPDIR");
    std::string moduleDir = server.FullPath().substr(0, server.FullPath().rfind('\\') + 1);
    EXPECT_EQ(moduleDir, helpDir);  // the module's folder, ending in its separator

    EXPECT_EQ(S_OK, server.Register());  // again: the same state
    EXPECT_EQ(expected, DumpServerKeys());

    EXPECT_EQ(S_OK, server.Unregister());
    EXPECT_TRUE(DumpServerKeys().empty());
    EXPECT_TRUE(KeyExists("CLSID"));
    EXPECT_FALSE(TypeLibRegistered());
    EXPECT_FALSE(KeyExists(kTypeLibKey));
    EXPECT_EQ(S_OK, server.Unregister());  // nothing left to remove
}

TEST_F(SelfRegistration, ModulePathWithASingleQuote) {
    std::string path = CopyDll("It's");
    LoadedServer server(path);
    ASSERT_NE(nullptr, server.get()) << GetLastError();
    ASSERT_EQ(S_OK, server.Register());
    EXPECT_EQ(server.FullPath(), DefaultValue(std::string(kClassKey) + "\\InprocServer32"));
    EXPECT_NE(std::string::npos, server.FullPath().find("It's"));
    EXPECT_EQ(S_OK, server.Unregister());
    EXPECT_TRUE(DumpServerKeys().empty());
}

TEST_F(SelfRegistration, ForeignSubkeyKeepsTheClassKey) {
    LoadedServer server(WinePath(VARO_DLL_PATH));
    ASSERT_EQ(S_OK, server.Register());
    const std::string foreign = std::string(kClassKey) + "\\Foreign";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, foreign.c_str(), REG_SZ, "kept", 4));
    EXPECT_EQ(S_OK, server.Unregister());
    EXPECT_EQ("kept", DefaultValue(foreign));
    EXPECT_TRUE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists(std::string(kClassKey) + "\\InprocServer32"));
    EXPECT_FALSE(KeyExists("VARO.WebMng"));
    EXPECT_FALSE(KeyExists("VARO.WebMng.1"));
    RegDeleteKeyA(HKEY_CLASSES_ROOT, foreign.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
}

// Stand-ins for the calls that load the script: each fails without giving an
// error code, or (HeapAlloc) fails only its first call, which is the storing
// of the module path's variable.
HMODULE WINAPI LoadLibraryExWithoutCode(LPCSTR, HANDLE, DWORD) {
    SetLastError(0);
    return nullptr;
}
HRSRC WINAPI FindResourceWithoutCode(HMODULE, LPCSTR, LPCSTR) {
    SetLastError(0);
    return nullptr;
}
typedef LPVOID(WINAPI* PFNHEAPALLOC)(HANDLE, DWORD, SIZE_T);
PFNHEAPALLOC g_pfnHeapAlloc;
int g_nHeapFailures;
LPVOID WINAPI HeapAllocFailingFirst(HANDLE hHeap, DWORD dwFlags, SIZE_T cb) {
    if (g_nHeapFailures > 0) {
        --g_nHeapFailures;
        return nullptr;
    }
    return g_pfnHeapAlloc(hHeap, dwFlags, cb);
}

TEST_F(SelfRegistration, FailuresAreNeverReportedAsSuccess) {
    const struct {
        const char* label;
        const char* function;
        const void* replacement;
        HRESULT hr;
    } cases[] = {
        {"module file not loaded, no error code", "LoadLibraryExA",
         reinterpret_cast<const void*>(&LoadLibraryExWithoutCode), E_FAIL},
        {"script resource not found, no error code", "FindResourceA",
         reinterpret_cast<const void*>(&FindResourceWithoutCode), E_FAIL},
        {"no memory for the module variable", "HeapAlloc", reinterpret_cast<const void*>(&HeapAllocFailingFirst),
         E_OUTOFMEMORY},
    };
    LoadedServer server(WinePath(VARO_DLL_PATH));
    ASSERT_NE(nullptr, server.get());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ImportPatch patch(server.get(), "kernel32.dll", c.function, c.replacement);
        ASSERT_TRUE(patch.Applied());
        g_pfnHeapAlloc = reinterpret_cast<PFNHEAPALLOC>(patch.Original());
        g_nHeapFailures = 1;
        EXPECT_EQ(c.hr, server.Register());
        EXPECT_TRUE(DumpServerKeys().empty());
        EXPECT_FALSE(TypeLibRegistered()) << "the type library is registered only after every class";
    }
}

}  // namespace

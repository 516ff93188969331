#include "invoke_fixture.h"

#include <fstream>
#include <iterator>

void InvokeTest::SetUp() {
    ASSERT_EQ(S_OK, m_apartment.status());
    UnregisterVaroTypeLib();
    ASSERT_TRUE(m_dll.Load()) << VaroDllPath();
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&m_pObject)));
    pFactory->Release();

    char szTemp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, szTemp));
    const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
    m_dir = std::string(szTemp) + "varo-invoke-" + std::to_string(GetCurrentProcessId()) + "-" + pInfo->name();
    CreateDirectoryA(m_dir.c_str(), nullptr);
    m_dir += "\\";
}

void InvokeTest::TearDown() {
    if (m_pObject) m_pObject->Release();
    m_pObject = nullptr;
    if (m_dll.IsLoaded()) EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    m_dll.Unload();
    UnregisterVaroTypeLib();
    if (m_dir.empty()) return;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_dir + "*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA((m_dir + name).c_str());
            else
                DeleteFileA((m_dir + name).c_str());
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    RemoveDirectoryA(m_dir.c_str());
}

std::wstring InvokeTest::PathOf(const std::string& name) const {
    std::string path = AnsiPathOf(name);
    return std::wstring(path.begin(), path.end());
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void ExpectException(const ScriptCall& call, HRESULT hr, const wchar_t* pszDescription) {
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    EXPECT_EQ(E_FAIL, call.excepInfo.scode);
    std::wstring description = call.excepInfo.bstrDescription
                                   ? std::wstring(call.excepInfo.bstrDescription, SysStringLen(call.excepInfo.bstrDescription))
                                   : std::wstring();
    EXPECT_TRUE(description == pszDescription) << "description has " << description.size() << " characters";
}

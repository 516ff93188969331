// VARO.DLL as built: what it imports and exports, and the resources it carries.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "test_paths.h"
#include "varo.h"

namespace {
std::string DllPath() { return WinePath(VARO_DLL_PATH); }

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names listed under EXPORTS in resources/varo.def.
std::set<std::string> DefExports() {
    std::istringstream def(ReadFileBytes(SourcePath("resources/varo.def")));
    std::set<std::string> names;
    std::string line;
    bool inExports = false;
    while (std::getline(def, line)) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first)) continue;
        if (first == "EXPORTS") { inExports = true; continue; }
        if (inExports) names.insert(first);
    }
    return names;
}

class DllImage : public ::testing::Test {
protected:
    void SetUp() override {
        m_hModule = LoadLibraryA(DllPath().c_str());
        ASSERT_NE(nullptr, m_hModule) << "LoadLibrary failed: " << GetLastError();
    }
    void TearDown() override { if (m_hModule) FreeLibrary(m_hModule); }

    template <class T> T* At(DWORD rva) const { return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(m_hModule) + rva); }
    const IMAGE_DATA_DIRECTORY& Directory(int index) const {
        auto dos = At<IMAGE_DOS_HEADER>(0);
        return At<IMAGE_NT_HEADERS>(dos->e_lfanew)->OptionalHeader.DataDirectory[index];
    }

    HMODULE m_hModule = nullptr;
};

TEST_F(DllImage, IsBuiltForThisProcessorAsADll) {
    auto nt = At<IMAGE_NT_HEADERS>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    EXPECT_EQ(sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_EQ(sizeof(void*) == 8 ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(DllImage, ImportsOnlySystemLibraries) {
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll",
                                           "oleaut32.dll", "rpcrt4.dll", "msvcrt.dll"};
    const IMAGE_DATA_DIRECTORY& dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(0u, dir.VirtualAddress);
    int count = 0;
    for (auto desc = At<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); desc->Name; ++desc, ++count)
        EXPECT_TRUE(allowed.count(Lower(At<char>(desc->Name)))) << "unexpected import " << At<char>(desc->Name);
    EXPECT_GT(count, 0);
}

TEST_F(DllImage, ExportsExactlyTheDefList) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(0u, dir.VirtualAddress);
    auto exports = At<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
    std::set<std::string> names;
    auto nameRvas = At<DWORD>(exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(At<char>(nameRvas[i]));
    std::set<std::string> expected = DefExports();
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(expected, names);
    EXPECT_EQ(exports->NumberOfNames, exports->NumberOfFunctions);
    for (const std::string& name : expected) EXPECT_NE(nullptr, GetProcAddress(m_hModule, name.c_str())) << name;
}

TEST_F(DllImage, CanUnloadWhenNothingIsHeld) {
    auto pfn = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
    ASSERT_NE(nullptr, pfn);
    EXPECT_EQ(S_OK, pfn());
}

TEST_F(DllImage, RegistryScriptIsTheScriptTextInJapanese) {
    HRSRC hRes = FindResourceExA(m_hModule, "REGISTRY", MAKEINTRESOURCEA(101), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    ASSERT_NE(nullptr, hRes);
    HGLOBAL hData = LoadResource(m_hModule, hRes);
    ASSERT_NE(nullptr, hData);
    std::string embedded(static_cast<const char*>(LockResource(hData)), SizeofResource(m_hModule, hRes));
    std::string source = ReadFileBytes(SourcePath("resources/webmng.rgs"));
    EXPECT_EQ(596u, embedded.size());
    EXPECT_EQ(source, embedded);
    EXPECT_EQ(std::string::npos, embedded.find('\0'));
    EXPECT_EQ(0u, embedded.find("HKCR\r\n{\r\n\tVARO.WebMng.1 = s 'WebMng Class'\r\n"));
}

TEST_F(DllImage, VersionResourceNamesTheModule) {
    std::string path = DllPath();
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
    ASSERT_NE(0u, cb);
    std::string data(cb, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, cb, &data[0]));

    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueA(&data[0], "\\", reinterpret_cast<void**>(&pFixed), &cbFixed));
    // The release's three fields, and 0 in the fourth, in both numbers.
    unsigned major = 0, minor = 0, patch = 0;
    char extra = 0;
    ASSERT_EQ(3, std::sscanf(VARO_RELEASE_VERSION, "%u.%u.%u%c", &major, &minor, &patch, &extra)) << VARO_RELEASE_VERSION;
    EXPECT_EQ(MAKELONG(minor, major), pFixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, patch), pFixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(minor, major), pFixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(0, patch), pFixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), pFixed->dwFileType);

    const std::string fileVersion = std::string(VARO_RELEASE_VERSION) + ".0";
    struct { const char* key; const char* value; } strings[] = {
        {"FileDescription", "VARO Module"}, {"ProductName", "VARO Module"},
        {"InternalName", "VARO"},           {"OriginalFilename", "VARO.DLL"},
        {"OLESelfRegister", ""},            {"FileVersion", fileVersion.c_str()},
        {"ProductVersion", VARO_RELEASE_VERSION},
    };
    for (auto& s : strings) {
        std::string key = std::string("\\StringFileInfo\\041103a4\\") + s.key;
        char* pValue = nullptr;
        UINT cch = 0;
        ASSERT_TRUE(VerQueryValueA(&data[0], key.c_str(), reinterpret_cast<void**>(&pValue), &cch)) << s.key;
        EXPECT_STREQ(s.value, cch ? pValue : "") << s.key;
    }
    WORD* pTranslation = nullptr;
    UINT cbTranslation = 0;
    ASSERT_TRUE(VerQueryValueA(&data[0], "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation), &cbTranslation));
    ASSERT_EQ(4u, cbTranslation);
    EXPECT_EQ(0x411, pTranslation[0]);
    EXPECT_EQ(932, pTranslation[1]);
}

// Reads a BSTR out and frees it.
std::wstring Take(BSTR bstr) {
    std::wstring s = bstr ? std::wstring(bstr, SysStringLen(bstr)) : std::wstring();
    SysFreeString(bstr);
    return s;
}

struct MethodRow {
    MEMBERID memid;
    const wchar_t* name;
    std::vector<std::wstring> params;
    std::vector<USHORT> flags;  // PARAMFLAG_* of each parameter
};

TEST_F(DllImage, TypeLibraryDescribesWebMng) {
    std::string narrow = DllPath();
    std::wstring path(narrow.begin(), narrow.end());
    ITypeLib* pLib = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &pLib));

    TLIBATTR* pLibAttr = nullptr;
    ASSERT_EQ(S_OK, pLib->GetLibAttr(&pLibAttr));
    EXPECT_TRUE(IsEqualGUID(LIBID_VAROLib, pLibAttr->guid));
    EXPECT_EQ(1, pLibAttr->wMajorVerNum);
    EXPECT_EQ(0, pLibAttr->wMinorVerNum);
    EXPECT_EQ(0u, pLibAttr->lcid);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, pLibAttr->syskind);
    pLib->ReleaseTLibAttr(pLibAttr);
    BSTR bstrName = nullptr, bstrDoc = nullptr;
    ASSERT_EQ(S_OK, pLib->GetDocumentation(-1, &bstrName, &bstrDoc, nullptr, nullptr));
    EXPECT_EQ(L"VAROLib", Take(bstrName));
    EXPECT_EQ(L"VARO 1.0 \xFF80\xFF72\xFF8C\xFF9F \xFF97\xFF72\xFF8C\xFF9E\xFF97\xFF98", Take(bstrDoc));

    ITypeInfo* pClass = nullptr;
    ASSERT_EQ(S_OK, pLib->GetTypeInfoOfGuid(CLSID_WebMng, &pClass));
    ASSERT_EQ(S_OK, pClass->GetDocumentation(MEMBERID_NIL, &bstrName, &bstrDoc, nullptr, nullptr));
    EXPECT_EQ(L"WebMng", Take(bstrName));
    EXPECT_EQ(L"WebMng Class", Take(bstrDoc));
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(S_OK, pClass->GetTypeAttr(&pAttr));
    EXPECT_EQ(TKIND_COCLASS, pAttr->typekind);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(1, pAttr->cImplTypes);
    pClass->ReleaseTypeAttr(pAttr);
    INT implFlags = 0;
    EXPECT_EQ(S_OK, pClass->GetImplTypeFlags(0, &implFlags));
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);
    pClass->Release();

    ITypeInfo* pDisp = nullptr;
    ASSERT_EQ(S_OK, pLib->GetTypeInfoOfGuid(IID_IWebMng, &pDisp));
    ASSERT_EQ(S_OK, pDisp->GetDocumentation(MEMBERID_NIL, &bstrName, &bstrDoc, nullptr, nullptr));
    EXPECT_EQ(L"IWebMng", Take(bstrName));
    EXPECT_EQ(L"IWebMng Interface", Take(bstrDoc));
    ASSERT_EQ(S_OK, pDisp->GetTypeAttr(&pAttr));
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FDUAL);
    pDisp->ReleaseTypeAttr(pAttr);

    // The vtable side of the dual interface: IDispatch's seven slots, then ours.
    HREFTYPE hRef = 0;
    ITypeInfo* pIface = nullptr;
    ASSERT_EQ(S_OK, pDisp->GetRefTypeOfImplType(-1, &hRef));
    ASSERT_EQ(S_OK, pDisp->GetRefTypeInfo(hRef, &pIface));
    ASSERT_EQ(S_OK, pIface->GetTypeAttr(&pAttr));
    EXPECT_EQ(TKIND_INTERFACE, pAttr->typekind);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    ASSERT_EQ(9, pAttr->cFuncs);
    pIface->ReleaseTypeAttr(pAttr);

    const USHORT I = PARAMFLAG_FIN, O = PARAMFLAG_FOUT, R = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    const MethodRow rows[] = {
        {1, L"Form", {L"pvarBinaryArray", L"bstrItemName", L"pbstrValue"}, {I, I, R}},
        {2, L"GetFileInfo", {L"pvarBinaryArray", L"bstrItemName", L"pvarPath", L"pvarFilename", L"pvarFileSize", L"plResult"}, {I, I, O, O, O, R}},
        {3, L"ReadBinary", {L"bstrFilename", L"pvarBinaryArray", L"plResult"}, {I, O, R}},
        {4, L"WriteForm", {L"pvarBinaryArray", L"bstrFilename", L"bstrItemName", L"plResult"}, {I, I, I, R}},
        {5, L"CreateGUID", {L"pbstrGUID"}, {R}},
        {6, L"WriteBinary", {L"pvarBinaryArray", L"bstrFilename", L"plResult"}, {I, I, R}},
        {7, L"FormBinary", {L"pvarBinaryArray", L"bstrItemName", L"pvarBinaryValue"}, {I, I, R}},
        {8, L"DeleteFile", {L"bstrFilename", L"plResult"}, {I, R}},
        {9, L"DeleteFileEx", {L"bstrPath", L"bstrFilename", L"plResult"}, {I, I, R}},
    };
    for (UINT i = 0; i < 9; ++i) {
        const MethodRow& row = rows[i];
        SCOPED_TRACE(testing::Message() << "method " << i);
        FUNCDESC* pFunc = nullptr;
        ASSERT_EQ(S_OK, pIface->GetFuncDesc(i, &pFunc));
        EXPECT_EQ(row.memid, pFunc->memid);
        EXPECT_EQ(INVOKE_FUNC, pFunc->invkind);
        EXPECT_EQ(VT_HRESULT, pFunc->elemdescFunc.tdesc.vt);
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), pFunc->oVft);
        ASSERT_EQ(static_cast<SHORT>(row.params.size()), pFunc->cParams);
        for (size_t p = 0; p < row.params.size(); ++p)
            EXPECT_EQ(row.flags[p], pFunc->lprgelemdescParam[p].paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) << "param " << p;
        BSTR names[8] = {};
        UINT cNames = 0;
        ASSERT_EQ(S_OK, pIface->GetNames(pFunc->memid, names, 8, &cNames));
        ASSERT_EQ(row.params.size() + 1, cNames);
        EXPECT_EQ(row.name, Take(names[0]));
        for (UINT n = 1; n < cNames; ++n) EXPECT_EQ(row.params[n - 1], Take(names[n]));
        ASSERT_EQ(S_OK, pIface->GetDocumentation(pFunc->memid, nullptr, &bstrDoc, nullptr, nullptr));
        EXPECT_EQ(std::wstring(L"\xFF92\xFF7F\xFF6F\xFF84\xFF9E ") + row.name, Take(bstrDoc));
        pIface->ReleaseFuncDesc(pFunc);
    }
    pIface->Release();
    pDisp->Release();
    pLib->Release();
}
}  // namespace

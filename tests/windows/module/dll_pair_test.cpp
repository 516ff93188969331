// The i686 VARO.DLL read as data beside this build's x64 one: the same type
// library (but for the system kind and the offsets that follow the pointer
// size), the same registry scripts, and an image that imports system DLLs
// only and exports the .def list. Nothing here runs 32-bit code, so it holds
// on a machine that cannot.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "test_paths.h"

namespace {
std::string Dll64() { return WinePath(VARO_DLL_PATH); }
std::string Dll32() { return WinePath(VARO_DLL32_PATH); }

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A BSTR as readable text (other than ASCII as \uXXXX), freed.
std::string Narrow(BSTR bstr) {
    std::string s;
    char szUnit[8];
    for (UINT i = 0; bstr && i < SysStringLen(bstr); ++i) {
        if (bstr[i] >= 0x20 && bstr[i] < 0x7F) {
            s += static_cast<char>(bstr[i]);
        } else {
            std::snprintf(szUnit, sizeof szUnit, "\\u%04X", static_cast<unsigned>(bstr[i]));
            s += szUnit;
        }
    }
    SysFreeString(bstr);
    return s;
}

std::string GuidText(const GUID& guid) {
    wchar_t sz[40] = {};
    StringFromGUID2(guid, sz, 40);
    return std::string(sz, sz + wcslen(sz));
}

std::string TypeText(const TYPEDESC& t) {
    std::string s = std::to_string(t.vt);
    if ((t.vt == VT_PTR || t.vt == VT_SAFEARRAY) && t.lptdesc) s += "(" + TypeText(*t.lptdesc) + ")";
    return s;
}

// Everything a client of the type library sees, except what depends on the
// pointer size: the system kind, vtable offsets and sizes, alignment.
std::string TypeLibText(ITypeLib* pLib, SYSKIND* pSysKind) {
    std::ostringstream out;
    TLIBATTR* pLibAttr = nullptr;
    if (FAILED(pLib->GetLibAttr(&pLibAttr))) return "no library attributes";
    *pSysKind = pLibAttr->syskind;
    out << GuidText(pLibAttr->guid) << " lcid " << pLibAttr->lcid << " v" << pLibAttr->wMajorVerNum << "."
        << pLibAttr->wMinorVerNum << " flags " << pLibAttr->wLibFlags << "\n";
    pLib->ReleaseTLibAttr(pLibAttr);
    BSTR bstrName = nullptr, bstrDoc = nullptr;
    pLib->GetDocumentation(-1, &bstrName, &bstrDoc, nullptr, nullptr);
    out << "library " << Narrow(bstrName) << " " << Narrow(bstrDoc) << "\n";
    for (UINT i = 0; i < pLib->GetTypeInfoCount(); ++i) {
        ITypeInfo* pInfo = nullptr;
        if (FAILED(pLib->GetTypeInfo(i, &pInfo))) { out << "type " << i << " missing\n"; continue; }
        TYPEATTR* pAttr = nullptr;
        pInfo->GetTypeAttr(&pAttr);
        pInfo->GetDocumentation(MEMBERID_NIL, &bstrName, &bstrDoc, nullptr, nullptr);
        out << "type " << Narrow(bstrName) << " " << Narrow(bstrDoc) << " " << GuidText(pAttr->guid) << " kind "
            << pAttr->typekind << " flags " << pAttr->wTypeFlags << " funcs " << pAttr->cFuncs << " vars "
            << pAttr->cVars << " impl " << pAttr->cImplTypes << "\n";
        for (UINT f = 0; f < pAttr->cFuncs; ++f) {
            FUNCDESC* pFunc = nullptr;
            if (FAILED(pInfo->GetFuncDesc(f, &pFunc))) continue;
            BSTR names[16] = {};
            UINT cNames = 0;
            pInfo->GetNames(pFunc->memid, names, 16, &cNames);
            out << "  func " << pFunc->memid << " kind " << pFunc->funckind << " invoke " << pFunc->invkind
                << " call " << pFunc->callconv << " returns " << TypeText(pFunc->elemdescFunc.tdesc) << " flags "
                << pFunc->wFuncFlags << " optional " << pFunc->cParamsOpt << ":";
            for (UINT n = 0; n < cNames; ++n) out << " " << Narrow(names[n]);
            for (SHORT p = 0; p < pFunc->cParams; ++p)
                out << " [" << TypeText(pFunc->lprgelemdescParam[p].tdesc) << " "
                    << pFunc->lprgelemdescParam[p].paramdesc.wParamFlags << "]";
            out << "\n";
            pInfo->ReleaseFuncDesc(pFunc);
        }
        for (UINT impl = 0; impl < pAttr->cImplTypes; ++impl) {
            HREFTYPE hRef = 0;
            ITypeInfo* pRef = nullptr;
            INT flags = 0;
            pInfo->GetImplTypeFlags(impl, &flags);
            if (SUCCEEDED(pInfo->GetRefTypeOfImplType(impl, &hRef)) && SUCCEEDED(pInfo->GetRefTypeInfo(hRef, &pRef))) {
                pRef->GetDocumentation(MEMBERID_NIL, &bstrName, nullptr, nullptr, nullptr);
                out << "  implements " << Narrow(bstrName) << " flags " << flags << "\n";
                pRef->Release();
            }
        }
        pInfo->ReleaseTypeAttr(pAttr);
        pInfo->Release();
    }
    return out.str();
}

// Every resource of a type in a module loaded as data: name -> bytes.
std::map<std::string, std::string> Resources(HMODULE hModule, const char* pszType) {
    std::map<std::string, std::string> found;
    EnumResourceNamesA(
        hModule, pszType,
        [](HMODULE h, LPCSTR type, LPSTR name, LONG_PTR lParam) -> BOOL {
            HRSRC hRes = FindResourceA(h, name, type);
            HGLOBAL hData = hRes ? LoadResource(h, hRes) : nullptr;
            const std::string key = IS_INTRESOURCE(name) ? std::to_string(reinterpret_cast<ULONG_PTR>(name)) : name;
            (*reinterpret_cast<std::map<std::string, std::string>*>(lParam))[key] =
                hData ? std::string(static_cast<const char*>(LockResource(hData)), SizeofResource(h, hRes)) : "";
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&found));
    return found;
}

// A PE file's import and export names, read from its bytes (an image of
// another processor cannot be loaded as code).
struct PeNames {
    WORD wMachine = 0;
    std::set<std::string> imports, exports;
    std::string error;
};

PeNames ReadPeNames(const std::string& file) {
    PeNames pe;
    auto at = [&](size_t offset, size_t cb) -> const char* {
        return offset + cb <= file.size() && offset + cb >= offset ? file.data() + offset : nullptr;
    };
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    if (!pDos || pDos->e_magic != IMAGE_DOS_SIGNATURE) return pe.error = "no DOS header", pe;
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(at(pDos->e_lfanew, sizeof(IMAGE_NT_HEADERS32)));
    if (!pNt || pNt->Signature != IMAGE_NT_SIGNATURE) return pe.error = "no PE header", pe;
    pe.wMachine = pNt->FileHeader.Machine;
    if (pNt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) return pe.error = "not a PE32 image", pe;
    const auto* pSections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        at(pDos->e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + pNt->FileHeader.SizeOfOptionalHeader,
           pNt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER)));
    if (!pSections) return pe.error = "no section table", pe;
    auto offset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < pNt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = pSections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return file.size();
    };
    auto text = [&](DWORD rva) {
        const char* psz = at(offset(rva), 1);
        return psz ? std::string(psz, strnlen(psz, file.data() + file.size() - psz)) : std::string("?");
    };
    const IMAGE_DATA_DIRECTORY& imports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (size_t o = offset(imports.VirtualAddress);; o += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* pDesc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(o, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!pDesc) return pe.error = "import table runs past the file", pe;
        if (!pDesc->Name) break;
        std::string name = text(pDesc->Name);
        for (char& ch : name) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        pe.imports.insert(name);
    }
    const IMAGE_DATA_DIRECTORY& exports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* pExports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(at(offset(exports.VirtualAddress), sizeof(IMAGE_EXPORT_DIRECTORY)));
    if (!pExports) return pe.error = "no export directory", pe;
    const auto* pNames = reinterpret_cast<const DWORD*>(at(offset(pExports->AddressOfNames), 4 * pExports->NumberOfNames));
    if (!pNames) return pe.error = "export names run past the file", pe;
    for (DWORD i = 0; i < pExports->NumberOfNames; ++i) pe.exports.insert(text(pNames[i]));
    return pe;
}

class DllPair : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(8u, sizeof(void*)) << "the pair is read from the x64 build";
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Dll32().c_str()))
            << Dll32() << " is missing: build preset windows first";
        m_h32 = LoadLibraryExA(Dll32().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        m_h64 = LoadLibraryExA(Dll64().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_h32) << "LoadLibraryEx as data: " << GetLastError();
        ASSERT_NE(nullptr, m_h64) << "LoadLibraryEx as data: " << GetLastError();
    }
    void TearDown() override {
        if (m_h32) FreeLibrary(m_h32);
        if (m_h64) FreeLibrary(m_h64);
    }
    HMODULE m_h32 = nullptr;
    HMODULE m_h64 = nullptr;
};

TEST_F(DllPair, TypeLibrariesDifferOnlyInSystemKindAndOffsets) {
    ITypeLib* pLib32 = nullptr;
    ITypeLib* pLib64 = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(Wide(Dll32()).c_str(), REGKIND_NONE, &pLib32));
    ASSERT_EQ(S_OK, LoadTypeLibEx(Wide(Dll64()).c_str(), REGKIND_NONE, &pLib64));
    SYSKIND kind32 = SYS_MAC, kind64 = SYS_MAC;
    const std::string text32 = TypeLibText(pLib32, &kind32);
    const std::string text64 = TypeLibText(pLib64, &kind64);
    pLib32->Release();
    pLib64->Release();
    EXPECT_EQ(SYS_WIN32, kind32);
    EXPECT_EQ(SYS_WIN64, kind64);
    // The dispatch views were read: IDispatch's seven methods and IWebMng's nine.
    EXPECT_NE(std::string::npos, text64.find("type IWebMng IWebMng Interface")) << text64;
    EXPECT_NE(std::string::npos, text64.find("funcs 16")) << text64;
    EXPECT_EQ(text64, text32);
}

TEST_F(DllPair, RegistryScriptsAndTypeLibraryResourcesMatch) {
    const auto scripts32 = Resources(m_h32, "REGISTRY");
    const auto scripts64 = Resources(m_h64, "REGISTRY");
    EXPECT_GE(scripts64.size(), 2u);
    EXPECT_EQ(scripts64, scripts32);
    EXPECT_EQ(1u, Resources(m_h32, "TYPELIB").size());
}

TEST_F(DllPair, TheI686ImageImportsSystemDllsAndExportsTheDefList) {
    const PeNames pe = ReadPeNames(FileBytes(Dll32()));
    ASSERT_EQ("", pe.error);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pe.wMachine);
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll",
                                          "oleaut32.dll", "rpcrt4.dll", "msvcrt.dll"};
    EXPECT_FALSE(pe.imports.empty());
    for (const std::string& name : pe.imports) EXPECT_TRUE(system.count(name)) << "imports " << name;
    const std::set<std::string> expected = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                            "DllUnregisterServer"};
    EXPECT_EQ(expected, pe.exports);
}
}  // namespace

// VARO.Upload's tests: a client of the built DLL's Upload objects, and the
// texts, files and listings they are checked by.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dll_client.h"
#include "import_patch.h"
#include "variant_args.h"

// The Err.Number of each refusal, as the README lists them for pages.
namespace Refused {
constexpr HRESULT kNotForm = static_cast<HRESULT>(0x80040201);
constexpr HRESULT kTooManyParts = static_cast<HRESULT>(0x80040202);
constexpr HRESULT kPartTooLarge = static_cast<HRESULT>(0x80040203);
constexpr HRESULT kMaxBytes = static_cast<HRESULT>(0x80040204);
constexpr HRESULT kMaxFileBytes = static_cast<HRESULT>(0x80040205);
constexpr HRESULT kMaxFieldBytes = static_cast<HRESULT>(0x80040206);
constexpr HRESULT kTypeNotAllowed = static_cast<HRESULT>(0x80040207);
constexpr HRESULT kEndedEarly = static_cast<HRESULT>(0x80040208);
constexpr HRESULT kNotRequest = static_cast<HRESULT>(0x80040209);
constexpr HRESULT kBadTotalBytes = static_cast<HRESULT>(0x8004020A);
constexpr HRESULT kReadNotBytes = static_cast<HRESULT>(0x8004020B);
constexpr HRESULT kSaveToDevice = static_cast<HRESULT>(0x8004020C);
constexpr HRESULT kSaveToStream = static_cast<HRESULT>(0x8004020D);
constexpr HRESULT kPathHasZero = static_cast<HRESULT>(0x8004020E);
constexpr HRESULT kSavedFileChanged = static_cast<HRESULT>(0x8004020F);
}  // namespace Refused

// UTF-8 text of a wide literal, as a UTF-8 page's form sends it.
inline std::string Utf8(const std::wstring& text) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], cb, nullptr, nullptr);
    return bytes;
}

// The file's bytes, or "<missing>".
inline std::string ReadFileBytesW(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(GetFileSize(h, nullptr), '\0');
    DWORD cb = 0;
    if (!bytes.empty()) ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &cb, nullptr);
    CloseHandle(h);
    return bytes;
}

// The names of the files (not folders) in a folder (its path with or without
// a trailing separator).
inline std::vector<std::wstring> FileNamesIn(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const bool bSeparator = !dir.empty() && dir.back() == L'\\';
    HANDLE hFind = FindFirstFileW((dir + (bSeparator ? L"*" : L"\\*")).c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    while (FindNextFileW(hFind, &found));
    FindClose(hFind);
    return names;
}

inline std::wstring Text(BSTR bstr) { return bstr ? std::wstring(bstr, SysStringLen(bstr)) : L"<null>"; }

// The description the last failure on this thread published.
inline std::wstring PublishedDescription() {
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || !pInfo) return L"<nothing>";
    BSTR bstr = nullptr;
    pInfo->GetDescription(&bstr);
    std::wstring text = Text(bstr);
    SysFreeString(bstr);
    pInfo->Release();
    return text;
}

inline std::wstring Text(const VARIANT& var) {
    if (var.vt == VT_EMPTY) return L"<empty>";
    return var.vt == VT_BSTR ? Text(var.bstrVal) : L"<type " + std::to_wstring(var.vt) + L">";
}

// The elements of a VT_ARRAY|VT_VARIANT holding strings.
inline std::vector<std::wstring> Strings(const VARIANT& var) {
    std::vector<std::wstring> strings;
    if (var.vt != (VT_ARRAY | VT_VARIANT)) return {L"<not an array of variants>"};
    VARIANT* pElements = nullptr;
    if (FAILED(SafeArrayAccessData(var.parray, reinterpret_cast<void**>(&pElements)))) return {L"<locked>"};
    for (ULONG i = 0; i < var.parray->rgsabound[0].cElements; ++i) strings.push_back(Text(pElements[i]));
    SafeArrayUnaccessData(var.parray);
    return strings;
}

// The file objects of a VT_ARRAY|VT_VARIANT of VT_DISPATCH, each AddRef'd.
inline std::vector<IUploadedFile*> FilesOf(const VARIANT& var) {
    std::vector<IUploadedFile*> files;
    if (var.vt != (VT_ARRAY | VT_VARIANT)) return files;
    VARIANT* pElements = nullptr;
    if (FAILED(SafeArrayAccessData(var.parray, reinterpret_cast<void**>(&pElements)))) return files;
    for (ULONG i = 0; i < var.parray->rgsabound[0].cElements; ++i) {
        IUploadedFile* pFile = nullptr;
        if (pElements[i].vt == VT_DISPATCH && pElements[i].pdispVal)
            pElements[i].pdispVal->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pFile));
        files.push_back(pFile);
    }
    SafeArrayUnaccessData(var.parray);
    return files;
}

struct FileFacts {
    std::wstring name, fileName, clientPath, extension, contentType;
    double size = -1;
    std::string bytes;
    bool operator==(const FileFacts& o) const {
        return name == o.name && fileName == o.fileName && clientPath == o.clientPath && extension == o.extension &&
               contentType == o.contentType && size == o.size && bytes == o.bytes;
    }
};

// The file's hash in the algorithm named (null: the default), or
// "<failed HRESULT>".
inline std::wstring HashOf(IUploadedFile* pFile, const wchar_t* pszAlgorithm) {
    VARIANT var = Missing();
    if (pszAlgorithm) {
        var.vt = VT_BSTR;
        var.bstrVal = SysAllocString(pszAlgorithm);
    }
    BSTR bstr = nullptr;
    const HRESULT hr = pFile->Hash(var, &bstr);
    VariantClear(&var);
    std::wstring text = hr == S_OK ? Text(bstr) : L"<failed " + std::to_wstring(hr) + L">";
    SysFreeString(bstr);
    return text;
}

inline FileFacts Describe(IUploadedFile* pFile) {
    FileFacts facts;
    BSTR bstr = nullptr;
    if (SUCCEEDED(pFile->get_Name(&bstr))) facts.name = Text(bstr);
    SysFreeString(bstr);
    bstr = nullptr;
    if (SUCCEEDED(pFile->get_FileName(&bstr))) facts.fileName = Text(bstr);
    SysFreeString(bstr);
    bstr = nullptr;
    if (SUCCEEDED(pFile->get_ClientPath(&bstr))) facts.clientPath = Text(bstr);
    SysFreeString(bstr);
    bstr = nullptr;
    if (SUCCEEDED(pFile->get_Extension(&bstr))) facts.extension = Text(bstr);
    SysFreeString(bstr);
    bstr = nullptr;
    if (SUCCEEDED(pFile->get_ContentType(&bstr))) facts.contentType = Text(bstr);
    SysFreeString(bstr);
    pFile->get_Size(&facts.size);
    VARIANT bytes;
    VariantInit(&bytes);
    if (SUCCEEDED(pFile->get_Bytes(&bytes))) facts.bytes = BytesOf(bytes);
    VariantClear(&bytes);
    return facts;
}

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_apartment.status());
        ASSERT_EQ(S_OK, m_registered.status());
        ASSERT_TRUE(m_dll.Load());
        m_pUpload = NewUpload();
        ASSERT_NE(nullptr, m_pUpload);
        char szTemp[MAX_PATH];
        GetTempPathA(MAX_PATH, szTemp);
        m_dir = std::string(szTemp) + "varo-upload-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_dir.c_str(), nullptr);
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override {
        if (m_pUpload) m_pUpload->Release();
        EXPECT_EQ(m_hrCanUnload, m_dll.CanUnloadNow()) << "an object is still alive";
        WIN32_FIND_DATAA found;
        HANDLE hFind = FindFirstFileA((m_dir + "\\*").c_str(), &found);
        if (hFind != INVALID_HANDLE_VALUE) {
            do DeleteFileA((m_dir + "\\" + found.cFileName).c_str());
            while (FindNextFileA(hFind, &found));
            FindClose(hFind);
        }
        RemoveDirectoryA(m_dir.c_str());
    }

    IUpload* NewUpload() {
        IClassFactory* pFactory = nullptr;
        IUpload* pUpload = nullptr;
        if (SUCCEEDED(m_dll.GetClassObject(CLSID_Upload, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)))) {
            pFactory->CreateInstance(nullptr, IID_IUpload, reinterpret_cast<void**>(&pUpload));
            pFactory->Release();
        }
        return pUpload;
    }

    HRESULT Load(const std::string& body) {
        ScriptVariable bytes;
        SetBytes(bytes.get(), body);
        return m_pUpload->Load(bytes.get());
    }
    std::wstring Item(const std::wstring& name) {
        BSTR bstrName = SysAllocString(name.c_str());
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = m_pUpload->get_Item(bstrName, &value);
        SysFreeString(bstrName);
        std::wstring text = FAILED(hr) ? L"<failed>" : Text(value);
        VariantClear(&value);
        return text;
    }
    std::vector<std::wstring> Values(const std::wstring& name) {
        BSTR bstrName = SysAllocString(name.c_str());
        VARIANT values;
        VariantInit(&values);
        m_pUpload->Values(bstrName, &values);
        SysFreeString(bstrName);
        std::vector<std::wstring> strings = Strings(values);
        VariantClear(&values);
        return strings;
    }
    std::vector<std::wstring> Names() {
        VARIANT names;
        VariantInit(&names);
        m_pUpload->get_Names(&names);
        std::vector<std::wstring> strings = Strings(names);
        VariantClear(&names);
        return strings;
    }
    long Count() {
        LONG lCount = -1;
        m_pUpload->get_Count(&lCount);
        return lCount;
    }
    // The loaded form's file objects, each AddRef'd.
    std::vector<IUploadedFile*> FileObjects() {
        VARIANT files;
        VariantInit(&files);
        m_pUpload->get_Files(&files);
        std::vector<IUploadedFile*> objects = FilesOf(files);
        VariantClear(&files);
        return objects;
    }
    std::vector<FileFacts> Files() {
        VARIANT files;
        VariantInit(&files);
        m_pUpload->get_Files(&files);
        std::vector<FileFacts> facts;
        for (IUploadedFile* pFile : FilesOf(files)) {
            facts.push_back(pFile ? Describe(pFile) : FileFacts{});
            if (pFile) pFile->Release();
        }
        VariantClear(&files);
        return facts;
    }
    // The description the last failure published.
    std::wstring Published() { return PublishedDescription(); }

    ComApartment m_apartment;
    RegisteredServer m_registered;
    VaroDll m_dll;
    IUpload* m_pUpload = nullptr;
    std::string m_dir;
    // S_FALSE in a test that leaves ended progress records kept: the module
    // holds their sections until the retention time has passed.
    HRESULT m_hrCanUnload = S_OK;
};

inline const std::string kUtf8Form = Body({
    TextPart(Utf8(L"名前"), Utf8(L"テスト")),
    TextPart("choice", "one"),
    TextPart("CHOICE", "two,three"),
    FilePart("docs", Utf8(L"C:\\書類\\報告.TXT"), "first", "text/plain"),
    FilePart("docs", "page.asp", "<% x %>", "text/html"),
    FilePart("empty", "", ""),
});


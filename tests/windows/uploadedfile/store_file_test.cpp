// An UploadedFile made from a file a store holds: what it tells of the file,
// and SaveAs/SaveUnique moving the file out of the store, or leaving it
// where it was when the save cannot be done.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <string>
#include <utility>

#include "import_patch.h"
#include "platform/module_state.h"
#include "tests/common/fact_bytes.h"
#include "test_paths.h"
#include "variant_args.h"
#include "variant_bytes.h"
#include "uploadedfile/store_file.h"
#include "uploadedfile/uploaded_file_methods.h"
#include "webmng/scratch_folder.h"

namespace {

// The identity the server layer gives the object, reduced to what a test
// calling through the vtable needs.
class FileObject final : public UploadedFileMethods {
public:
    using UploadedFileMethods::UploadedFileMethods;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* pc) override {
        *pc = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

std::wstring Text(BSTR bstr) {
    std::wstring text(bstr ? bstr : L"", SysStringLen(bstr));
    SysFreeString(bstr);
    return text;
}

// The file's bytes as anyone may read them while the object holds it (it
// shares reading only).
std::string StoredBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(GetFileSize(h, nullptr), '\0');
    DWORD cb = 0;
    if (!bytes.empty() && !(ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &cb, nullptr) && cb == bytes.size()))
        bytes = "<unreadable>";
    CloseHandle(h);
    return bytes;
}

VARIANT Algorithm(const wchar_t* psz) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(psz);
    return var;
}

class StoreFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, InitModule(nullptr, GetModuleHandleW(nullptr)));
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_root = Widen(BinaryPath("tests/windows/uploadedfile/scratch-" + name));
        Clear(m_root);
        m_store = m_root + L"\\store";
        m_site = m_root + L"\\site";
        CreateDirectoryW(m_root.c_str(), nullptr);
        CreateDirectoryW(m_store.c_str(), nullptr);
        CreateDirectoryW(m_site.c_str(), nullptr);
        m_source = m_store + L"\\0123456789abcdef";
    }
    void TearDown() override {
        Drop();
        Clear(m_root);
        CoUninitialize();
        TermModule();
    }

    static void Clear(const std::wstring& folder) {
        for (const wchar_t* pszSub : {L"\\store", L"\\site"}) {
            for (const std::wstring& name : SearchOrder(folder + pszSub)) DeleteFileW((folder + pszSub + L"\\" + name).c_str());
            RemoveDirectoryW((folder + pszSub).c_str());
        }
        RemoveDirectoryW(folder.c_str());
    }

    // The file object over the store's file holding bytes, as a page gets it.
    DWORD Take(const std::string& bytes, const wchar_t* pszName = L"photo.png", const wchar_t* pszType = L"image/png",
               std::uint64_t cbClaimed = UINT64_MAX) {
        if (!PutFile(m_source, bytes)) return GetLastError();
        UploadedFileSource* pSource = nullptr;
        const DWORD dwError = TakeOverStoreFile(m_source.c_str(), UniqueFileHandle(), pszName, pszType,
                                                cbClaimed == UINT64_MAX ? bytes.size() : cbClaimed, &pSource);
        if (dwError != ERROR_SUCCESS) return dwError;
        m_pFile = new FileObject(pSource, 0, CP_UTF8);
        pSource->Release();  // the object holds its own reference
        return ERROR_SUCCESS;
    }
    void Drop() {
        delete m_pFile;
        m_pFile = nullptr;
    }

    HRESULT SaveAs(const std::wstring& path, VARIANT varOverwrite) {
        BSTR bstrPath = SysAllocString(path.c_str());
        const HRESULT hr = m_pFile->SaveAs(bstrPath, varOverwrite);
        SysFreeString(bstrPath);
        return hr;
    }
    std::string Bytes() {
        VARIANT var;
        VariantInit(&var);
        if (FAILED(m_pFile->get_Bytes(&var))) return "<failed>";
        const std::string bytes = BytesOf(var);
        VariantClear(&var);
        return bytes;
    }
    std::wstring Hash(const wchar_t* pszAlgorithm) {
        VARIANT var = Algorithm(pszAlgorithm);
        BSTR bstr = nullptr;
        const HRESULT hr = m_pFile->Hash(var, &bstr);
        VariantClear(&var);
        return SUCCEEDED(hr) ? Text(bstr) : L"<failed>";
    }

    std::wstring m_root, m_store, m_site, m_source;
    FileObject* m_pFile = nullptr;
};

// What the page reads of the file: the names and type the store kept, the
// size, and what the bytes themselves tell (type, image size, hashes).
TEST_F(StoreFileTest, TellsTheFileFromItsRecordAndItsBytes) {
    struct Case {
        const char* what;
        std::string bytes;
        const wchar_t* pszName;
        const wchar_t* pszType;
        const wchar_t* pszFileName;  // as FileName answers
        const wchar_t* pszExtension;
        const wchar_t* pszDetected;
        LONG lWidth, lHeight;
    } const kCases[] = {
        {"png", facts_test::Png(3, 2), L"photo.PNG", L"image/png", L"photo.PNG", L"png", L"image/png", 3, 2},
        // A control character could hide the real extension; a client's
        // folder is the client path, not the name.
        {"masked name", "plain text\n", L"C:\\docs\\a\x01.asp", L"text/plain", L"a\xFFFD.asp", L"asp",
         L"text/plain", 0, 0},
        {"no name, no type, no bytes", "", nullptr, nullptr, L"", L"", L"", 0, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Take(c.bytes, c.pszName, c.pszType));
        BSTR bstr = nullptr;
        ASSERT_EQ(S_OK, m_pFile->get_FileName(&bstr));
        EXPECT_EQ(c.pszFileName, Text(bstr));
        ASSERT_EQ(S_OK, m_pFile->get_Extension(&bstr));
        EXPECT_EQ(c.pszExtension, Text(bstr));
        ASSERT_EQ(S_OK, m_pFile->get_ContentType(&bstr));
        EXPECT_EQ(c.pszType ? c.pszType : L"", Text(bstr));
        ASSERT_EQ(S_OK, m_pFile->get_Name(&bstr));
        EXPECT_EQ(L"", Text(bstr));
        double dblSize = -1;
        ASSERT_EQ(S_OK, m_pFile->get_Size(&dblSize));
        EXPECT_EQ(static_cast<double>(c.bytes.size()), dblSize);
        ASSERT_EQ(S_OK, m_pFile->get_DetectedType(&bstr));
        EXPECT_EQ(c.pszDetected, Text(bstr));
        LONG lWidth = -1, lHeight = -1;
        ASSERT_EQ(S_OK, m_pFile->get_ImageWidth(&lWidth));
        ASSERT_EQ(S_OK, m_pFile->get_ImageHeight(&lHeight));
        EXPECT_EQ(c.lWidth, lWidth);
        EXPECT_EQ(c.lHeight, lHeight);
        EXPECT_EQ(c.bytes, Bytes());
        // Reading leaves the file in the store.
        EXPECT_EQ(c.bytes, StoredBytes(m_source));
        Drop();
        EXPECT_EQ(c.bytes, StoredBytes(m_source)) << "a file not saved stays in the store";
    }
}

TEST_F(StoreFileTest, HashesTheStoredBytes) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Take("abc"));
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hash(L""));
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", Hash(L"MD5"));
    EXPECT_EQ(L"a9993e364706816aba3e25717850c26c9cd0d89d", Hash(L"sha1"));
}

// A store's record that promises other bytes than the file holds is not
// handed out as that upload; nothing is taken or changed.
TEST_F(StoreFileTest, RefusesAFileOfAnotherSize) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), Take("short", L"a.txt", L"text/plain", 6));
    EXPECT_EQ(nullptr, m_pFile);
    EXPECT_EQ("short", StoredBytes(m_source));
    EXPECT_FALSE(HeldOpen(m_source));
    UploadedFileSource* pSource = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              TakeOverStoreFile((m_store + L"\\absent").c_str(), UniqueFileHandle(), L"a", L"", 0, &pSource));
    EXPECT_EQ(nullptr, pSource);
}

// Saving moves the file out of the store: the page's path has the bytes,
// the store has them no more, and the saved file is held against writing
// while the object lives, so that what it answers stays the upload's.
TEST_F(StoreFileTest, SaveAsMovesTheFileOutOfTheStore) {
    const std::string bytes = facts_test::Png(5, 4);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Take(bytes));
    const std::wstring target = m_site + L"\\saved.png";
    ASSERT_EQ(S_OK, SaveAs(target, Missing()));
    EXPECT_FALSE(Exists(m_source));
    EXPECT_EQ(bytes, StoredBytes(target));
    HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(bytes, Bytes());
    // A second save copies what the first one placed.
    const std::wstring again = m_site + L"\\again.png";
    ASSERT_EQ(S_OK, SaveAs(again, Missing()));
    EXPECT_EQ(bytes, StoredBytes(again));
    EXPECT_EQ(bytes, StoredBytes(target));
    Drop();
    EXPECT_EQ(bytes, StoredBytes(target)) << "the saved file is the page's";
    EXPECT_FALSE(Exists(m_source));
}

// A save that cannot be done leaves the file in the store, whole, and the
// object as usable as before; overwrite replaces the page's file.
TEST_F(StoreFileTest, ARefusedSaveLeavesTheFileInTheStore) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Take("uploaded"));
    const std::wstring taken = m_site + L"\\taken.txt";
    ASSERT_TRUE(PutFile(taken, "the page's own"));
    struct Refused {
        const char* what;
        std::wstring path;
        VARIANT varOverwrite;
    } const kRefused[] = {
        {"existing target", taken, Missing()},
        {"existing target, overwrite False", taken, Bool(false)},
        {"no such folder", m_site + L"\\none\\x.txt", Missing()},
        {"a device", L"NUL", Missing()},
        {"a stream", m_site + L"\\s.txt:alt", Missing()},
    };
    for (const Refused& r : kRefused) {
        SCOPED_TRACE(r.what);
        EXPECT_TRUE(FAILED(SaveAs(r.path, r.varOverwrite)));
        EXPECT_EQ("uploaded", StoredBytes(m_source));
        EXPECT_EQ("the page's own", StoredBytes(taken));
        EXPECT_EQ("uploaded", Bytes());
    }
    ASSERT_EQ(S_OK, SaveAs(taken, Bool(true)));
    EXPECT_EQ("uploaded", StoredBytes(taken));
    EXPECT_FALSE(Exists(m_source));
}

// A store that holds the file open already hands its handle over: the
// object closes it, whether it takes the file or refuses it.
TEST_F(StoreFileTest, TakesOverAnOpenHandle) {
    const auto open = [&] {
        return UniqueFileHandle(CreateFileW(m_source.c_str(), GENERIC_READ | DELETE | WRITE_DAC, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    };
    const std::string png = facts_test::Png(2, 3);
    ASSERT_TRUE(PutFile(m_source, png));
    UploadedFileSource* pSource = nullptr;
    UniqueFileHandle refused = open();
    ASSERT_TRUE(refused);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
              TakeOverStoreFile(m_source.c_str(), std::move(refused), L"h.png", L"image/png", 3, &pSource));
    EXPECT_FALSE(HeldOpen(m_source)) << "a refused handle is closed";

    UniqueFileHandle taken = open();
    ASSERT_TRUE(taken);
    // Its file pointer stands anywhere; the facts are read from the start.
    SetFilePointer(taken.get(), 4, nullptr, FILE_BEGIN);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              TakeOverStoreFile(m_source.c_str(), std::move(taken), L"h.png", L"image/png", png.size(), &pSource));
    m_pFile = new FileObject(pSource, 0, CP_UTF8);
    pSource->Release();
    BSTR bstr = nullptr;
    ASSERT_EQ(S_OK, m_pFile->get_DetectedType(&bstr));
    EXPECT_EQ(L"image/png", Text(bstr));
    LONG lHeight = 0;
    ASSERT_EQ(S_OK, m_pFile->get_ImageHeight(&lHeight));
    EXPECT_EQ(3, lHeight);
    const std::wstring target = m_site + L"\\h.png";
    ASSERT_EQ(S_OK, SaveAs(target, Missing()));
    EXPECT_EQ(png, StoredBytes(target));
    EXPECT_FALSE(Exists(m_source));
    Drop();
    EXPECT_FALSE(HeldOpen(target));
}

TEST_F(StoreFileTest, SaveUniqueMovesItUnderAServerMadeName) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Take(facts_test::Png(1, 1), L"x.png"));
    BSTR bstrFolder = SysAllocString(m_site.c_str());
    BSTR bstrPath = nullptr;
    ASSERT_EQ(S_OK, m_pFile->SaveUnique(bstrFolder, &bstrPath));
    SysFreeString(bstrFolder);
    const std::wstring path = Text(bstrPath);
    EXPECT_EQ(m_site + L"\\", path.substr(0, m_site.size() + 1));
    EXPECT_EQ(L".png", path.substr(path.size() - 4));
    EXPECT_EQ(facts_test::Png(1, 1), StoredBytes(path));
    EXPECT_FALSE(Exists(m_source));
}

// Another volume, or a folder whose rights the moved file cannot take: the
// bytes are copied, and the store's file goes once the object lets it go
// (it is read from until then, so nobody can change what it answers).
DWORD WINAPI RefuseSecurity(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) {
    return ERROR_ACCESS_DENIED;
}

TEST_F(StoreFileTest, ACopiedFileLeavesTheStoreWithTheObject) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Take("copied bytes"));
    const std::wstring target = m_site + L"\\copy.txt";
    {
        ImportPatch patch(GetModuleHandleW(nullptr), "advapi32.dll", "SetSecurityInfo",
                          reinterpret_cast<const void*>(&RefuseSecurity));
        ASSERT_TRUE(patch.Applied());
        ASSERT_EQ(S_OK, SaveAs(target, Missing()));
    }
    EXPECT_EQ("copied bytes", StoredBytes(target));
    EXPECT_EQ("copied bytes", Bytes());
    Drop();
    EXPECT_FALSE(Exists(m_source));
    EXPECT_EQ("copied bytes", StoredBytes(target));
    EXPECT_EQ(1u, SearchOrder(m_site).size()) << "no file of the copy's left beside it";
}

}  // namespace

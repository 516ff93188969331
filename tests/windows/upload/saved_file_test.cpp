// What a saved upload stays: the file object answers for the bytes that were
// uploaded whatever is done at the saved path, a file appears under its final
// name only whole, and what a killed worker leaves is swept by the next load
// or save in that folder, never a page's own files.
#include <algorithm>
#include <string>
#include <vector>

#include "both_ways.h"
#include "import_patch.h"

namespace {

const std::wstring kHelloSha256 = L"2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

class SavedFileTest : public BothWaysTest {
protected:
    void TearDown() override {
        ReleaseFile();
        for (const std::wstring& folder : m_folders) {
            for (const std::wstring& name : FileNamesIn(folder)) DeleteFileW((folder + L"\\" + name).c_str());
            RemoveDirectoryW(folder.c_str());
        }
        BothWaysTest::TearDown();
    }

    // The one file of a newly loaded form holding "hello".
    void LoadHello() {
        ReleaseFile();
        ASSERT_EQ(S_OK, LoadForm(Body({FilePart("doc", "hello.txt", "hello", "text/plain")})));
        std::vector<IUploadedFile*> objects = FileObjects();
        ASSERT_EQ(1u, objects.size());
        m_pFile = objects[0];
    }
    void ReleaseFile() {
        if (m_pFile) m_pFile->Release();
        m_pFile = nullptr;
    }
    HRESULT SaveAs(const std::wstring& path, bool bReplace = false) {
        BSTR bstrPath = SysAllocString(path.c_str());
        VARIANT varReplace = Missing();
        if (bReplace) {
            varReplace.vt = VT_BOOL;
            varReplace.boolVal = VARIANT_TRUE;
        }
        const HRESULT hr = m_pFile->SaveAs(bstrPath, varReplace);
        SysFreeString(bstrPath);
        return hr;
    }
    std::string BytesNow() {
        VARIANT bytes;
        VariantInit(&bytes);
        const HRESULT hr = m_pFile->get_Bytes(&bytes);
        std::string text = hr == S_OK ? BytesOf(bytes) : "<failed " + std::to_string(hr) + ">";
        VariantClear(&bytes);
        return text;
    }
    // A new empty folder in the test's folder, removed with it.
    std::wstring NewFolder(const wchar_t* pszName) {
        // Named anew each time: a folder is swept at most once a minute.
        GUID guid;
        CoCreateGuid(&guid);
        const std::wstring folder = m_wdir + L"\\" + pszName + L"-" + std::to_wstring(guid.Data1);
        CreateDirectoryW(folder.c_str(), nullptr);
        m_folders.push_back(folder);
        return folder;
    }

    IUploadedFile* m_pFile = nullptr;
    std::vector<std::wstring> m_folders;
};

bool WriteWhole(const std::wstring& path, const std::string& bytes, DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, dwAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD cb = 0;
    const BOOL bWritten = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr);
    CloseHandle(h);
    return bWritten && cb == bytes.size();
}

// Upload "hello", save it, then change what is at the saved path: the file
// object still answers for "hello".
TEST_P(SavedFileTest, ItAnswersForTheUploadedBytesWhateverIsDoneAtItsPath) {
    const std::wstring folder = NewFolder(L"saved");
    enum Action { kWrittenOver, kReplacedByRename, kDeleted };
    const struct {
        const char* label;
        Action action;
    } cases[] = {{"written over", kWrittenOver}, {"replaced by a rename", kReplacedByRename}, {"deleted", kDeleted}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        LoadHello();
        const std::wstring path = folder + L"\\saved" + std::to_wstring(++n) + L".txt";
        ASSERT_EQ(S_OK, SaveAs(path));
        EXPECT_EQ("hello", ReadFileBytesW(path)) << "the page reads what it saved";
        switch (c.action) {
        case kWrittenOver: {
            HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            if (GetParam() == Way::kLoadRequest) {
                // The moved file is held against writing while its form lives.
                EXPECT_EQ(INVALID_HANDLE_VALUE, h);
                EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
            }
            if (h != INVALID_HANDLE_VALUE) {
                DWORD cb = 0;
                WriteFile(h, "XXXXX", 5, &cb, nullptr);
                CloseHandle(h);
            }
            break;
        }
        case kReplacedByRename: {
            const std::wstring other = folder + L"\\other.txt";
            ASSERT_TRUE(WriteWhole(other, "XXXXXXXXXX"));
            MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
            DeleteFileW(other.c_str());
            break;
        }
        case kDeleted:
            EXPECT_TRUE(DeleteFileW(path.c_str())) << "a page can remove what it saved";
            break;
        }
        EXPECT_EQ("hello", BytesNow());
        EXPECT_EQ(kHelloSha256, HashOf(m_pFile, L"SHA256"));
        double dblSize = 0;
        EXPECT_EQ(S_OK, m_pFile->get_Size(&dblSize));
        EXPECT_EQ(5, dblSize);
        ASSERT_EQ(S_OK, SaveAs(path + L".again"));
        EXPECT_EQ("hello", ReadFileBytesW(path + L".again"));
        if (c.action == kWrittenOver) {
            // Saved over its own path, the upload is there again (a file
            // still held is itself already).
            EXPECT_EQ(S_OK, SaveAs(path, true));
            EXPECT_EQ("hello", ReadFileBytesW(path));
        }
    }
}

// One file of a form replaces the file another saved: the page asked for it,
// so the other lets go of it (and says so when asked for its bytes after).
TEST_P(SavedFileTest, AFileOfTheSameFormMayReplaceOneItSaved) {
    const std::wstring path = NewFolder(L"twice") + L"\\kept.bin";
    ASSERT_EQ(S_OK, LoadForm(Body({FilePart("a", "a.txt", "first"), FilePart("b", "b.txt", "second")})));
    std::vector<IUploadedFile*> objects = FileObjects();
    ASSERT_EQ(2u, objects.size());
    m_pFile = objects[0];
    ASSERT_EQ(S_OK, SaveAs(path));
    m_pFile = objects[1];
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), SaveAs(path));
    EXPECT_EQ(S_OK, SaveAs(path, true));
    EXPECT_EQ("second", ReadFileBytesW(path));
    m_pFile = objects[0];
    if (GetParam() == Way::kLoad)
        EXPECT_EQ("first", BytesNow());
    else
        EXPECT_EQ("<failed " + std::to_string(Refused::kSavedFileChanged) + ">", BytesNow());
    m_pFile = nullptr;
    for (IUploadedFile* pFile : objects) pFile->Release();
}

// Where the saved file cannot be held again after the move, the file object
// says so rather than read whatever is at the path.
HANDLE WINAPI RefuseSharedReads(LPCWSTR, DWORD, DWORD dwShare, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
void* g_pvRealCreateFileW = nullptr;
HANDLE WINAPI RefuseSharedReads(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES pSecurity,
                                DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate) {
    if (dwShare == (FILE_SHARE_READ | FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    using Real = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    return reinterpret_cast<Real>(g_pvRealCreateFileW)(pszName, dwAccess, dwShare, pSecurity, dwDisposition, dwFlags,
                                                       hTemplate);
}

TEST_P(SavedFileTest, AFileThatCouldNotBeHeldIsRefusedWithItsMessage) {
    if (GetParam() == Way::kLoad) GTEST_SKIP() << "a form in memory holds its bytes itself";
    const std::wstring path = NewFolder(L"lost") + L"\\saved.txt";
    LoadHello();
    {
        ImportPatch patch(m_dll.Module(), "kernel32.dll", "CreateFileW",
                          reinterpret_cast<const void*>(&RefuseSharedReads));
        ASSERT_TRUE(patch.Applied());
        g_pvRealCreateFileW = patch.Original();
        ASSERT_EQ(S_OK, SaveAs(path)) << "saved all the same";
    }
    EXPECT_EQ("hello", ReadFileBytesW(path));
    const std::string failed = "<failed " + std::to_string(Refused::kSavedFileChanged) + ">";
    EXPECT_EQ(failed, BytesNow());
    EXPECT_EQ(L"アップロードされたファイルを読めません。保存したファイルが保存の直後に変更されたか置き換えられました。",
              Published());
    EXPECT_EQ(L"<failed " + std::to_wstring(Refused::kSavedFileChanged) + L">", HashOf(m_pFile, L"MD5"));
    EXPECT_EQ(Refused::kSavedFileChanged, SaveAs(path + L".again"));
    EXPECT_EQ("<missing>", ReadFileBytesW(path + L".again"));
}

// Whether the file a save is writing to stands under its final name yet,
// at each write.
struct WriteWatch {
    std::wstring finalPath;
    std::vector<std::string> seen;  // what the final path read at each write
    bool bFail = false;
    void* pvReal = nullptr;
};
WriteWatch g_watch;

BOOL WINAPI WatchWriteFile(HANDLE hFile, LPCVOID pv, DWORD cb, LPDWORD pcbWritten, LPOVERLAPPED pOverlapped) {
    g_watch.seen.push_back(ReadFileBytesW(g_watch.finalPath));
    if (g_watch.bFail) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    using Real = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    return reinterpret_cast<Real>(g_watch.pvReal)(hFile, pv, cb, pcbWritten, pOverlapped);
}

// A killed worker can leave no half-written file under a page's name: the
// bytes are written beside it and then renamed into place.
TEST_P(SavedFileTest, TheFinalNameAppearsOnlyWhole) {
    const std::wstring folder = NewFolder(L"whole");
    const std::wstring first = NewFolder(L"first");
    const struct {
        const char* label;
        const char* before;  // the file at the final path before the save, or null
        bool bFail;
        HRESULT hr;
        const char* after;
    } cases[] = {
        {"a new file", nullptr, false, S_OK, "hello"},
        {"a file replaced", "old", false, S_OK, "hello"},
        {"a new file whose writing fails", nullptr, true, HRESULT_FROM_WIN32(ERROR_DISK_FULL), "<missing>"},
        {"a file replaced whose writing fails", "old", true, HRESULT_FROM_WIN32(ERROR_DISK_FULL), "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        LoadHello();
        // Saved once first, so that the save watched is a copy on both ways.
        ASSERT_EQ(S_OK, SaveAs(first + L"\\" + std::to_wstring(&c - cases) + L".txt"));
        g_watch = WriteWatch{folder + L"\\final.txt"};
        g_watch.bFail = c.bFail;
        DeleteFileW(g_watch.finalPath.c_str());
        if (c.before) ASSERT_TRUE(WriteWhole(g_watch.finalPath, c.before));
        {
            ImportPatch patch(m_dll.Module(), "kernel32.dll", "WriteFile", reinterpret_cast<const void*>(&WatchWriteFile));
            ASSERT_TRUE(patch.Applied());
            g_watch.pvReal = patch.Original();
            EXPECT_EQ(c.hr, SaveAs(g_watch.finalPath, c.before != nullptr));
        }
        ASSERT_FALSE(g_watch.seen.empty());
        for (const std::string& seen : g_watch.seen) EXPECT_EQ(c.before ? c.before : "<missing>", seen);
        EXPECT_EQ(c.after, ReadFileBytesW(g_watch.finalPath));
        std::vector<std::wstring> names = FileNamesIn(folder);
        EXPECT_EQ(std::vector<std::wstring>(c.after[0] == '<' ? 0 : 1, L"final.txt"), names) << "nothing beside it";
    }
}

// A leftover: the name a file being saved carries and its mark (hidden), and
// no handle on it. Files that differ in any of these stay.
TEST_P(SavedFileTest, LeftoversOfAKilledWorkerAreSweptAndNothingElse) {
    const std::wstring kLeftover = L"varo-0b5e7a1c-3d2f-4e6a-9b8c-7d6e5f4a3b2c.tmp";
    const std::wstring kPageOwn = L"varo-1b5e7a1c-3d2f-4e6a-9b8c-7d6e5f4a3b2c.tmp";  // not hidden
    const std::wstring kOtherName = L"varo-report.tmp";
    const std::wstring kLive = L"varo-2b5e7a1c-3d2f-4e6a-9b8c-7d6e5f4a3b2c.tmp";  // a live worker's
    const std::wstring kUpper = L"varo-3B5E7A1C-3D2F-4E6A-9B8C-7D6E5F4A3B2C.tmp";
    auto lay = [&](const std::wstring& folder, HANDLE* phLive) {
        ASSERT_TRUE(WriteWhole(folder + L"\\" + kLeftover, "hello", FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(WriteWhole(folder + L"\\" + kPageOwn, "mine"));
        ASSERT_TRUE(WriteWhole(folder + L"\\" + kOtherName, "mine", FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(WriteWhole(folder + L"\\" + kUpper, "mine", FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(WriteWhole(folder + L"\\" + kLive, "busy", FILE_ATTRIBUTE_HIDDEN));
        *phLive = CreateFileW((folder + L"\\" + kLive).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, *phLive);
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\" + kLeftover).c_str()));
        ASSERT_TRUE(GetFileAttributesW((folder + L"\\" + kLeftover).c_str()) & FILE_ATTRIBUTE_HIDDEN)
            << "the system keeps the mark";
    };
    std::vector<std::wstring> kept = {kPageOwn, kOtherName, kUpper, kLive};
    std::sort(kept.begin(), kept.end());

    // Beside a save's target.
    const std::wstring target = NewFolder(L"target");
    HANDLE hLive = INVALID_HANDLE_VALUE;
    lay(target, &hLive);
    LoadHello();
    ASSERT_EQ(S_OK, SaveAs(target + L"\\new.txt"));
    CloseHandle(hLive);
    std::vector<std::wstring> expected = kept;
    expected.push_back(L"new.txt");
    std::sort(expected.begin(), expected.end());
    std::vector<std::wstring> names = FileNamesIn(target);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(expected, names);

    if (GetParam() == Way::kLoad) return;
    // In the temporary folder, by the next LoadRequest.
    const std::wstring spool = NewFolder(L"spool");
    lay(spool, &hLive);
    BSTR bstrFolder = SysAllocString(spool.c_str());
    ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder));
    SysFreeString(bstrFolder);
    ASSERT_EQ(S_OK, LoadForm(Body({TextPart("a", "1")})));
    CloseHandle(hLive);
    names = FileNamesIn(spool);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(kept, names);
}

INSTANTIATE_TEST_SUITE_P(BothLoads, SavedFileTest, ::testing::Values(Way::kLoad, Way::kLoadRequest), WayName);

}  // namespace

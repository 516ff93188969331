// Where an uploaded file may be saved, the same after Load (written from
// memory) and after LoadRequest (the temporary file moved): never into a
// device, one answer for a name that is taken, one reading of a path; and
// what a client's file name may hold.
#include <aclapi.h>

#include "both_ways.h"
#include "fake_request.h"
#include "import_patch.h"
#include "multipart_body.h"
#include "upload_client.h"

namespace {

const std::string kForm = Body({FilePart("doc", "report.txt", "saved bytes", "text/plain")});

class SaveTargetTest : public BothWaysTest {
protected:
    void SetUp() override {
        BothWaysTest::SetUp();
        CreateDirectoryW((m_wdir + L"\\sub").c_str(), nullptr);
        ASSERT_EQ(S_OK, LoadForm(kForm));
        std::vector<IUploadedFile*> objects = FileObjects();
        ASSERT_EQ(1u, objects.size());
        m_pFile = objects[0];
    }
    void TearDown() override {
        if (m_pFile) m_pFile->Release();
        for (const wchar_t* pszName : {L"\\sub\\taken.txt", L"\\resolved.txt"})
            DeleteFileW((m_wdir + pszName).c_str());
        RemoveDirectoryW((m_wdir + L"\\sub").c_str());
        BothWaysTest::TearDown();
    }

    HRESULT SaveAs(const std::wstring& path) {
        BSTR bstrPath = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
        const HRESULT hr = m_pFile->SaveAs(bstrPath, Missing());
        SysFreeString(bstrPath);
        return hr;
    }

    IUploadedFile* m_pFile = nullptr;
};

TEST_P(SaveTargetTest, ADeviceIsRefusedWithItsOwnMessage) {
    const std::wstring targets[] = {
        m_wdir + L"\\NUL",        m_wdir + L"\\nul.txt",       L"\\\\.\\NUL",
        m_wdir + L"\\CON",        m_wdir + L"\\COM1",          m_wdir + L"\\com9.log",
        m_wdir + L"\\LPT1 .txt",  m_wdir + L"\\aux\\x.txt",    L"\\\\?\\" + m_wdir + L"\\NUL",
        m_wdir + L"\\conout$",    m_wdir + L"/sub/prn.tar.gz", m_wdir + L"\\nul:stream",
    };
    for (const std::wstring& target : targets) {
        SCOPED_TRACE(std::string(target.begin(), target.end()));
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(Refused::kSaveToDevice, SaveAs(target));
        EXPECT_EQ(L"保存先がディスク上のファイルではなくデバイスです。CON、NUL、COM1 などの名前を含まないファイルの"
                  L"パスを指定してください。",
                  Published());
    }
    // Refused before anything was written or moved: the upload is still there to save.
    EXPECT_EQ(S_OK, SaveAs(m_wdir + L"\\sub\\taken.txt"));
    EXPECT_EQ("saved bytes", ReadFileBytesW(m_wdir + L"\\sub\\taken.txt"));
    // Names that only look alike are files.
    for (const wchar_t* pszName : {L"\\nul1.txt", L"\\console", L"\\com10", L"\\xnul"}) {
        EXPECT_EQ(S_OK, SaveAs(m_wdir + pszName)) << "a file named " << std::wstring(pszName).c_str();
        DeleteFileW((m_wdir + pszName).c_str());
    }
}

// A zero character would end the path where the system reads it: "shell.asp"
// would be written for "shell.asp<NUL>.png".
TEST_P(SaveTargetTest, APathWithAZeroCharacterIsRefused) {
    const std::wstring kMessage = L"パスに NUL 文字 (U+0000) が含まれています。NUL を含まないパスを指定してください。";
    const std::wstring zero(1, L'\0');
    EXPECT_EQ(Refused::kPathHasZero, SaveAs(m_wdir + L"\\shell.asp" + zero + L".png"));
    EXPECT_EQ(kMessage, Published());
    const std::wstring folder = m_wdir + L"\\sub" + zero + L"x";
    BSTR bstrFolder = SysAllocStringLen(folder.data(), static_cast<UINT>(folder.size()));
    BSTR bstrPath = nullptr;
    EXPECT_EQ(Refused::kPathHasZero, m_pFile->SaveUnique(bstrFolder, &bstrPath));
    EXPECT_EQ(nullptr, bstrPath);
    EXPECT_EQ(kMessage, Published());
    EXPECT_EQ(Refused::kPathHasZero, m_pUpload->put_TempFolder(bstrFolder));
    EXPECT_EQ(kMessage, Published());
    SysFreeString(bstrFolder);
    EXPECT_EQ(std::vector<std::wstring>{}, FileNamesIn(m_wdir));
    EXPECT_EQ(std::vector<std::wstring>{}, FileNamesIn(m_wdir + L"\\sub"));
    // The temporary folder is still the one set before.
    BSTR bstrKept = nullptr;
    ASSERT_EQ(S_OK, m_pUpload->get_TempFolder(&bstrKept));
    EXPECT_EQ(m_spool, Text(bstrKept));
    SysFreeString(bstrKept);
}

// A stream of a file is no file of its own ("x.asp::$DATA" is x.asp, past a
// page's check of the extension), and of the \\?\ forms only a drive and UNC
// reach files on disk: a pipe's server could act as the worker's account.
TEST_P(SaveTargetTest, AStreamOrAnotherNamespaceIsNoTarget) {
    const struct {
        std::wstring target;
        HRESULT hr;
    } cases[] = {
        {m_wdir + L"\\a.txt:stream", Refused::kSaveToStream},
        {m_wdir + L"\\b.asp::$DATA", Refused::kSaveToStream},
        {L"\\\\?\\" + m_wdir + L"\\c.txt:x", Refused::kSaveToStream},
        {m_wdir + L"\\sub:x\\d.txt", Refused::kSaveToStream},
        {L"\\\\?\\pipe\\varo-test", Refused::kSaveToDevice},
        {L"//?/pipe/varo-test", Refused::kSaveToDevice},
        {L"\\\\?\\GLOBALROOT\\Device\\Null", Refused::kSaveToDevice},
        {L"\\\\localhost\\pipe\\varo-test", Refused::kSaveToDevice},
        {L"\\\\?\\UNC\\localhost\\MailSlot\\varo-test", Refused::kSaveToDevice},
        {L"\\??\\" + m_wdir + L"\\e.txt", Refused::kSaveToDevice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.target.begin(), c.target.end()));
        EXPECT_EQ(c.hr, SaveAs(c.target));
        EXPECT_NE(std::wstring::npos, Published().find(c.hr == Refused::kSaveToStream ? L"「:」" : L"デバイス"));
    }
    EXPECT_EQ(std::vector<std::wstring>{}, FileNamesIn(m_wdir));
    // A drive's own colon, in both forms, is a file.
    EXPECT_EQ(S_OK, SaveAs(L"\\\\?\\" + m_wdir + L"\\sub\\taken.txt"));
    EXPECT_EQ("saved bytes", ReadFileBytesW(m_wdir + L"\\sub\\taken.txt"));
}

// What a file a page names is opened with, every time.
struct OpenCalls {
    std::vector<DWORD> flags;
    void* pvReal = nullptr;
};
OpenCalls g_opens;

HANDLE WINAPI RecordCreateFileW(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES pSecurity,
                                DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate) {
    g_opens.flags.push_back(dwFlags);
    using Real = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    return reinterpret_cast<Real>(g_opens.pvReal)(pszName, dwAccess, dwShare, pSecurity, dwDisposition, dwFlags,
                                                  hTemplate);
}

TEST_P(SaveTargetTest, APipeAtTheOtherEndCannotActAsTheWorker) {
    g_opens = OpenCalls{};
    {
        ImportPatch patch(m_dll.Module(), "kernel32.dll", "CreateFileW",
                          reinterpret_cast<const void*>(&RecordCreateFileW));
        ASSERT_TRUE(patch.Applied());
        g_opens.pvReal = patch.Original();
        ASSERT_EQ(S_OK, SaveAs(m_wdir + L"\\sub\\taken.txt"));
        ASSERT_EQ(S_OK, SaveAs(m_wdir + L"\\resolved.txt"));
    }
    ASSERT_FALSE(g_opens.flags.empty());
    for (DWORD dwFlags : g_opens.flags) EXPECT_EQ(DWORD(SECURITY_SQOS_PRESENT), dwFlags & (SECURITY_SQOS_PRESENT | 0x00030000));
}

TEST_P(SaveTargetTest, ANameThatIsTakenIsErrorFileExists) {
    HANDLE h = CreateFileW((m_wdir + L"\\sub\\taken.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), SaveAs(m_wdir + L"\\sub\\taken.txt"));
    const std::wstring message = Published();
    EXPECT_EQ(0u, message.find(L"ファイルを保存できませんでした。 ("));
    EXPECT_NE(std::wstring::npos, message.find(L"コード 80)"));
    EXPECT_EQ("", ReadFileBytesW(m_wdir + L"\\sub\\taken.txt"));
}

TEST_P(SaveTargetTest, APathIsReadOneWayForBoth) {
    // A \\?\ path is taken as it stands, so "." and ".." in it are refused
    // rather than resolved by one way of saving and not by the other.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME), SaveAs(L"\\\\?\\" + m_wdir + L"\\sub\\..\\resolved.txt"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME), SaveAs(L"\\\\?\\" + m_wdir + L"\\.\\resolved.txt"));
    EXPECT_EQ("<missing>", ReadFileBytesW(m_wdir + L"\\resolved.txt"));
    EXPECT_TRUE(FileNamesIn(m_wdir + L"\\sub").empty());
    // Any other path is made full first: ".." climbs, the same for both.
    EXPECT_EQ(S_OK, SaveAs(m_wdir + L"\\sub\\.\\..\\resolved.txt"));
    EXPECT_EQ("saved bytes", ReadFileBytesW(m_wdir + L"\\resolved.txt"));
}

// What the product asked of SetSecurityInfo, and what it answers.
struct SecurityCalls {
    int nCalls = 0;
    SE_OBJECT_TYPE type = SE_UNKNOWN_OBJECT_TYPE;
    SECURITY_INFORMATION info = 0;
    DWORD nAces = 0xFFFFFFFF;
    DWORD dwAnswer = ERROR_SUCCESS;  // anything else fails the call
    void* pvReal = nullptr;
};
SecurityCalls g_security;

DWORD WINAPI RecordSetSecurityInfo(HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID pOwner,
                                   PSID pGroup, PACL pDacl, PACL pSacl) {
    ++g_security.nCalls;
    g_security.type = type;
    g_security.info = info;
    ACL_SIZE_INFORMATION size{};
    if (pDacl && GetAclInformation(pDacl, &size, sizeof size, AclSizeInformation)) g_security.nAces = size.AceCount;
    if (g_security.dwAnswer != ERROR_SUCCESS) return g_security.dwAnswer;
    using Real = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
    return reinterpret_cast<Real>(g_security.pvReal)(h, type, info, pOwner, pGroup, pDacl, pSacl);
}

// A moved file gets its new folder's rights (an unprotected empty list takes
// the folder's inheritable entries); one written in place has them already.
// Where that cannot be set, the file is copied instead, never left with the
// temporary folder's rights.
TEST_P(SaveTargetTest, ASavedFileTakesItsFolderRights) {
    const std::wstring path = m_wdir + L"\\sub\\taken.txt";
    g_security = SecurityCalls{};
    {
        ImportPatch patch(m_dll.Module(), "advapi32.dll", "SetSecurityInfo",
                          reinterpret_cast<const void*>(&RecordSetSecurityInfo));
        ASSERT_TRUE(patch.Applied());
        g_security.pvReal = patch.Original();
        ASSERT_EQ(S_OK, SaveAs(path));
    }
    if (GetParam() == Way::kLoad) {
        EXPECT_EQ(0, g_security.nCalls);
    } else {
        EXPECT_EQ(1, g_security.nCalls);
        EXPECT_EQ(SE_FILE_OBJECT, g_security.type);
        EXPECT_EQ(static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION),
                  g_security.info);
        EXPECT_EQ(0u, g_security.nAces);
    }
    // The page can read what it saved, and write it once the form is let go;
    // nothing is left in the temporary folder.
    EXPECT_EQ("saved bytes", ReadFileBytesW(path));
    m_pFile->Release();
    m_pFile = nullptr;
    m_pUpload->Release();
    m_pUpload = NewUpload();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_TRUE(FileNamesIn(m_spool).empty());
}

TEST_P(SaveTargetTest, WhereRightsCannotBeSetTheFileIsCopied) {
    g_security = SecurityCalls{};
    g_security.dwAnswer = ERROR_ACCESS_DENIED;
    {
        ImportPatch patch(m_dll.Module(), "advapi32.dll", "SetSecurityInfo",
                          reinterpret_cast<const void*>(&RecordSetSecurityInfo));
        ASSERT_TRUE(patch.Applied());
        g_security.pvReal = patch.Original();
        ASSERT_EQ(S_OK, SaveAs(m_wdir + L"\\sub\\taken.txt"));
    }
    EXPECT_EQ("saved bytes", ReadFileBytesW(m_wdir + L"\\sub\\taken.txt"));
    if (GetParam() == Way::kLoad) {
        EXPECT_EQ(0, g_security.nCalls) << "written in place: no rights to change";
        return;
    }
    EXPECT_EQ(1, g_security.nCalls);
    // The temporary file went back and stays the form's until it is released.
    EXPECT_EQ(1u, FileNamesIn(m_spool).size());
    m_pFile->Release();
    m_pFile = nullptr;
    m_pUpload->Release();
    m_pUpload = NewUpload();
    EXPECT_TRUE(FileNamesIn(m_spool).empty());
    EXPECT_EQ("saved bytes", ReadFileBytesW(m_wdir + L"\\sub\\taken.txt"));
}

INSTANTIATE_TEST_SUITE_P(BothLoads, SaveTargetTest, ::testing::Values(Way::kLoad, Way::kLoadRequest), WayName);

// A client's file name with control characters: FileName, ClientPath and
// Extension agree, and the server-made name follows the same extension.
TEST_F(UploadTest, ControlCharactersInAFileNameCannotHideItsExtension) {
    const struct {
        const char* label;
        std::string disposition;  // the filename parameters
        std::wstring fileName, clientPath, extension;
    } cases[] = {
        {"encoded NUL", "filename*=UTF-8''a.txt%00.asp", L"a.txt\xFFFD.asp", L"", L"asp"},
        {"raw NUL", std::string("filename=\"a.asp\0.jpg\"", 20), L"a.asp\xFFFD.jpg", L"", L"jpg"},
        {"tab and DEL", "filename=\"C:\\a\tb\\x\x7F.Png\"", L"x\xFFFD.Png", L"C:\\a\xFFFD" L"b", L"png"},
        {"line feed encoded", "filename*=UTF-8''r%0Aport.pdf%0A", L"r\xFFFDport.pdf\xFFFD", L"", L"pdf\xFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string body = std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"f\"; " +
                                 c.disposition + "\r\nContent-Type: text/plain\r\n\r\nbytes\r\n--" + kBoundary +
                                 "--\r\n";
        ASSERT_EQ(S_OK, Load(body));
        const std::vector<FileFacts> files = Files();
        ASSERT_EQ(1u, files.size());
        EXPECT_EQ(c.fileName, files[0].fileName);
        EXPECT_EQ(c.clientPath, files[0].clientPath);
        EXPECT_EQ(c.extension, files[0].extension);
    }
    // "a.txt<NUL>.asp" is an .asp to the server-made name too.
    ASSERT_EQ(S_OK, Load(Body({FilePart("f", std::string("a.txt\0.asp", 10), "x")})));
    std::vector<IUploadedFile*> objects = FileObjects();
    ASSERT_EQ(1u, objects.size());
    const std::wstring dir(m_dir.begin(), m_dir.end());
    BSTR bstrFolder = SysAllocString(dir.c_str());
    BSTR bstrPath = nullptr;
    EXPECT_EQ(S_OK, objects[0]->SaveUnique(bstrFolder, &bstrPath));
    EXPECT_EQ(L".bin", Text(bstrPath).substr(Text(bstrPath).size() - 4));
    SysFreeString(bstrPath);
    SysFreeString(bstrFolder);
    objects[0]->Release();
}
}  // namespace

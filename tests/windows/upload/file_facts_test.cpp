// What an uploaded file is, beyond what its client said: its type and image
// size from its first bytes, its hash, an overwrite the page chooses, and
// the types a page takes - the same through Load and through LoadRequest.
#include "both_ways.h"

#include "tests/common/fact_bytes.h"

using namespace facts_test;

namespace {

class FileFactsTest : public BothWaysTest {
protected:
    // LoadRequest in pieces of 1000 bytes, so that a file's first bytes
    // arrive in many.
    HRESULT LoadForm(const std::string& body) { return BothWaysTest::LoadForm(body, 1000); }
    HRESULT SetText(HRESULT (STDMETHODCALLTYPE IUpload::*put)(BSTR), const wchar_t* pszText) {
        BSTR bstr = SysAllocString(pszText);
        const HRESULT hr = (m_pUpload->*put)(bstr);
        SysFreeString(bstr);
        return hr;
    }
    std::wstring GetText(HRESULT (STDMETHODCALLTYPE IUpload::*get)(BSTR*)) {
        BSTR bstr = nullptr;
        const HRESULT hr = (m_pUpload->*get)(&bstr);
        std::wstring text = FAILED(hr) ? L"<failed>" : Text(bstr);
        SysFreeString(bstr);
        return text;
    }
    std::wstring WriteFile(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = m_wdir + L"\\" + name;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD cb = 0;
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr);
        CloseHandle(h);
        return path;
    }
};

struct Facts {
    std::wstring type;
    long width, height;
    bool operator==(const Facts& o) const { return type == o.type && width == o.width && height == o.height; }
};

std::ostream& operator<<(std::ostream& os, const Facts& f) {
    return os << Utf8(f.type) << " " << f.width << "x" << f.height;
}

Facts FactsOf(IUploadedFile* pFile) {
    Facts facts{L"<failed>", -1, -1};
    BSTR bstr = nullptr;
    if (pFile->get_DetectedType(&bstr) == S_OK) facts.type = Text(bstr);
    SysFreeString(bstr);
    pFile->get_ImageWidth(&facts.width);
    pFile->get_ImageHeight(&facts.height);
    return facts;
}

// A JPEG whose frame header lies 100 KB in, behind an Exif segment and an
// ICC piece, as a camera's photo has it.
const Bytes kCameraJpeg = kSoi + App1(65000) + Segment(0xE2, Bytes(35000, 'i')) + Sof(0xC0, 4000, 3000) +
                          Bytes(300000, '\x55');

TEST_P(FileFactsTest, EachFileTellsItsTypeAndImageSizeFromItsOwnBytes) {
    struct Case {
        const char* fileName;
        Bytes bytes;
        Facts expected;
    };
    const Case cases[] = {
        {"photo.png", Png(640, 480) + Bytes(5000, 'p'), {L"image/png", 640, 480}},
        {"camera.jpg", kCameraJpeg, {L"image/jpeg", 4000, 3000}},
        {"anim.gif", Gif(10, 20), {L"image/gif", 10, 20}},
        {"top-down.bmp", Bmp(40, 7, -5), {L"image/bmp", 7, 5}},
        {"renamed.jpg", B("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0") + Bytes(200, '\0'), {L"application/x-msdownload", 0, 0}},
        {"notes.txt", "first line\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n", {L"text/plain", 0, 0}},
        {"random.png", B("\x01\x02\x03\x04\0\xFE\xFD"), {L"", 0, 0}},
        {"cut.png", Png(640, 480).substr(0, 20), {L"image/png", 0, 0}},
    };
    std::vector<std::string> parts;
    for (const Case& c : cases) parts.push_back(FilePart("f", c.fileName, c.bytes, "image/png"));
    ASSERT_EQ(S_OK, LoadForm(Body(parts)));
    std::vector<IUploadedFile*> files = FileObjects();
    ASSERT_EQ(std::size(cases), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(cases[i].expected, FactsOf(files[i])) << cases[i].fileName;
        BSTR bstr = nullptr;
        ASSERT_EQ(S_OK, files[i]->get_ContentType(&bstr));
        EXPECT_EQ(L"image/png", Text(bstr)) << "the client's type stays as sent";
        SysFreeString(bstr);
        files[i]->Release();
    }
}

TEST_P(FileFactsTest, HashesByEveryAlgorithmInLowerCaseHex) {
    ASSERT_EQ(S_OK, LoadForm(Body({FilePart("abc", "abc.txt", "abc"), FilePart("a", "a.bin", Bytes(1000000, 'a'))})));
    std::vector<IUploadedFile*> files = FileObjects();
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HashOf(files[0], nullptr));
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HashOf(files[0], L""));
    EXPECT_EQ(L"a9993e364706816aba3e25717850c26c9cd0d89d", HashOf(files[0], L"sha-1"));
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", HashOf(files[0], L"MD5"));
    EXPECT_EQ(L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", HashOf(files[1], L"SHA256"));
    EXPECT_EQ(L"34aa973cd4c4daa4f61eeb2bdbad27316534016f", HashOf(files[1], L"Sha1"));
    EXPECT_EQ(L"7707d6ae4e027c70eea2a935c2296f21", HashOf(files[1], L"md5"));

    SetErrorInfo(0, nullptr);
    EXPECT_EQ(L"<failed " + std::to_wstring(E_INVALIDARG) + L">", HashOf(files[0], L"SHA512"));
    EXPECT_EQ(L"ハッシュのアルゴリズム「SHA512」は使えません。SHA256、SHA1、MD5 のどれかを指定してください。",
              Published());
    for (IUploadedFile* pFile : files) pFile->Release();
}

// A hash taken while the form loaded, or on the first question, is kept:
// the file is not read for it again (here it is gone by then).
TEST_P(FileFactsTest, AHashIsReadOnceAndKept) {
    EXPECT_EQ(L"", GetText(&IUpload::get_HashWhileLoading));
    EXPECT_EQ(E_INVALIDARG, SetText(&IUpload::put_HashWhileLoading, L"CRC32"));
    EXPECT_EQ(L"ハッシュのアルゴリズム「CRC32」は使えません。SHA256、SHA1、MD5 のどれかを指定してください。",
              Published());
    ASSERT_EQ(S_OK, SetText(&IUpload::put_HashWhileLoading, L"sha-256"));
    EXPECT_EQ(L"SHA256", GetText(&IUpload::get_HashWhileLoading));
    ASSERT_EQ(S_OK, LoadForm(Body({FilePart("a", "a.bin", Bytes(1000000, 'a')), FilePart("b", "abc.txt", "abc")})));
    std::vector<IUploadedFile*> files = FileObjects();
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", HashOf(files[1], L"MD5"));  // asked before it goes

    const std::wstring saved = m_wdir + L"\\saved.bin", savedAbc = m_wdir + L"\\abc.txt";
    BSTR bstr = SysAllocString(saved.c_str());
    ASSERT_EQ(S_OK, files[0]->SaveAs(bstr, Missing()));
    SysFreeString(bstr);
    bstr = SysAllocString(savedAbc.c_str());
    ASSERT_EQ(S_OK, files[1]->SaveAs(bstr, Missing()));
    SysFreeString(bstr);
    ASSERT_TRUE(DeleteFileW(saved.c_str()));
    ASSERT_TRUE(DeleteFileW(savedAbc.c_str()));

    EXPECT_EQ(L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", HashOf(files[0], nullptr));
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", HashOf(files[1], L"MD5"));
    // Never asked before: read now, from the bytes uploaded, although the
    // page removed the file it saved them to.
    EXPECT_EQ(L"7707d6ae4e027c70eea2a935c2296f21", HashOf(files[0], L"MD5"));
    for (IUploadedFile* pFile : files) pFile->Release();
}

TEST_P(FileFactsTest, OverwriteIsChosenAndAFailedOneLeavesTheOldFileWhole) {
    ASSERT_EQ(S_OK, LoadForm(Body({FilePart("f", "new.txt", "new bytes")})));
    std::vector<IUploadedFile*> files = FileObjects();
    ASSERT_EQ(1u, files.size());
    IUploadedFile* pFile = files[0];
    const std::wstring target = WriteFile(L"target.txt", "old bytes");
    BSTR bstrTarget = SysAllocString(target.c_str());

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), pFile->SaveAs(bstrTarget, Missing()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), pFile->SaveAs(bstrTarget, Bool(false)));
    VARIANT notBool;
    VariantInit(&notBool);
    notBool.vt = VT_BSTR;
    notBool.bstrVal = SysAllocString(L"perhaps");
    EXPECT_EQ(E_INVALIDARG, pFile->SaveAs(bstrTarget, notBool));
    VariantClear(&notBool);
    EXPECT_EQ(L"SaveAs の 2 番目の引数には True か False を指定してください。", Published());
    EXPECT_EQ("old bytes", ReadFileBytesW(target));

    {
        // Another program holds the file without letting it be replaced.
        HANDLE hHeld = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
        EXPECT_TRUE(FAILED(pFile->SaveAs(bstrTarget, Bool(true))));
        CloseHandle(hHeld);
    }
    EXPECT_EQ("old bytes", ReadFileBytesW(target));
    EXPECT_EQ(std::vector<std::wstring>{L"target.txt"}, FileNamesIn(m_wdir)) << "nothing left beside it";

    EXPECT_EQ(S_OK, pFile->SaveAs(bstrTarget, Bool(true)));
    EXPECT_EQ("new bytes", ReadFileBytesW(target));
    // And again over its own saved copy, from where it now reads.
    EXPECT_EQ(S_OK, pFile->SaveAs(bstrTarget, Bool(true)));
    EXPECT_EQ("new bytes", ReadFileBytesW(target));
    VARIANT bytes;
    VariantInit(&bytes);
    ASSERT_EQ(S_OK, pFile->get_Bytes(&bytes));
    EXPECT_EQ("new bytes", BytesOf(bytes));
    VariantClear(&bytes);
    SysFreeString(bstrTarget);
    pFile->Release();
}

TEST_P(FileFactsTest, AllowedTypesRefuseAFormWithAnotherTypeAndKeepTheEarlierForm) {
    ASSERT_EQ(S_OK, LoadForm(Body({TextPart("earlier", "form")})));
    EXPECT_EQ(L"", GetText(&IUpload::get_AllowedTypes));
    ASSERT_EQ(S_OK, SetText(&IUpload::put_AllowedTypes, L"image/png, IMAGE/JPEG;image/gif"));
    EXPECT_EQ(L"image/png, IMAGE/JPEG;image/gif", GetText(&IUpload::get_AllowedTypes));

    struct Case {
        const char* what;
        std::string body;
        std::wstring message;  // "" where the form loads
    };
    const Case cases[] = {
        {"images and an untouched file input",
         Body({FilePart("a", "a.png", Png(1, 1)), FilePart("b", "b.jpg", kCameraJpeg), FilePart("none", "", "")}),
         L""},
        {"an executable named .jpg",
         Body({FilePart("a", "a.png", Png(1, 1)), FilePart("b", "setup.jpg", B("MZ\x90\0") + Bytes(300000, '\0')),
               TextPart("after", "x")}),
         L"ファイル「setup.jpg」の種類 (application/x-msdownload) は受け付けていません。AllowedTypes "
         L"にある種類のファイルを送ってください。"},
        {"bytes of no known type, a UTF-8 name", Body({FilePart("a", "C:\\写真\\x.png", B("\0\x01\x02"))}),
         L"ファイル「C:\\写真\\x.png」の種類 (不明) は受け付けていません。AllowedTypes "
         L"にある種類のファイルを送ってください。"},
    };
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(CP_UTF8));  // the names are read in the page's code page
    for (const Case& c : cases) {
        SetErrorInfo(0, nullptr);
        const long countBefore = Count();
        const std::vector<std::wstring> spoolBefore = FileNamesIn(m_spool);
        const HRESULT hr = LoadForm(c.body);
        if (c.message.empty()) {
            EXPECT_EQ(S_OK, hr) << c.what;
        } else {
            EXPECT_EQ(Refused::kTypeNotAllowed, hr) << c.what;
            EXPECT_EQ(c.message, Published()) << c.what;
            EXPECT_EQ(countBefore, Count()) << c.what << ": the earlier form stays";
            EXPECT_EQ(spoolBefore, FileNamesIn(m_spool)) << c.what << ": a refused form leaves no temporary file";
        }
    }
    ASSERT_EQ(S_OK, SetText(&IUpload::put_AllowedTypes, L""));
    EXPECT_EQ(S_OK, LoadForm(cases[1].body)) << "an empty list takes every type";
}

INSTANTIATE_TEST_SUITE_P(BothWays, FileFactsTest, ::testing::Values(Way::kLoad, Way::kLoadRequest), WayName);

}  // namespace

// VARO.Upload reading a page's Request object in pieces: the same answers as
// Load of the same body, the page's limits, requests that end early, and
// temporary files that never outlive their form.
#include "fake_request.h"
#include "upload_client.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// What a loaded form answers, in one comparable listing.
struct FormListing {
    long count = -1;
    std::vector<std::wstring> names;
    std::vector<std::vector<std::wstring>> values;  // per name
    std::vector<std::wstring> items;                // per name
    std::vector<FileFacts> files;
};

bool operator==(const FormListing& a, const FormListing& b) {
    return a.count == b.count && a.names == b.names && a.values == b.values && a.items == b.items &&
           a.files == b.files;
}

class LoadRequestTest : public UploadTest {
protected:
    void SetUp() override {
        UploadTest::SetUp();
        m_spool = std::wstring(m_dir.begin(), m_dir.end()) + L"\\spool";
        CreateDirectoryW(m_spool.c_str(), nullptr);
        BSTR bstrFolder = SysAllocString(m_spool.c_str());
        ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder));
        SysFreeString(bstrFolder);
    }
    void TearDown() override {
        for (const std::wstring& name : SpoolFiles()) DeleteFileW((m_spool + L"\\" + name).c_str());
        RemoveDirectoryW(m_spool.c_str());
        UploadTest::TearDown();
    }

    std::vector<std::wstring> SpoolFiles() const { return FileNamesIn(m_spool); }

    FormListing Listing(IUpload* pUpload) {
        std::swap(pUpload, m_pUpload);
        FormListing listing;
        listing.count = Count();
        listing.names = Names();
        for (const std::wstring& name : listing.names) {
            listing.values.push_back(Values(name));
            listing.items.push_back(Item(name));
        }
        listing.files = Files();
        std::swap(pUpload, m_pUpload);
        return listing;
    }

    HRESULT LoadRequestOf(const std::string& body) {
        FakeRequest request(body);
        return m_pUpload->LoadRequest(&request);
    }

    std::wstring m_spool;
};

const std::string kSjisForm = Body({
    TextPart("\x96\xBC\x91\x4F", "\x93\x63\x92\x86\x5C"),  // 名前 = 田中＼ (a trail byte 0x5C)
    FilePart("\x83\x74\x83\x40\x83\x43\x83\x8B", "\x95\xF1\x8D\x90.txt", std::string(3000, '\x81'),
             "text/plain"),  // ファイル, 報告.txt
});

// The same body under another boundary.
std::string WithBoundary(std::string body, const std::string& boundary) {
    const std::string from = kBoundary;
    for (std::size_t at = body.find(from); at != std::string::npos; at = body.find(from, at + boundary.size()))
        body.replace(at, from.size(), boundary);
    return body;
}

// A form whose boundary ends in "--": its first line reads as a closing line too.
const std::string kDashForm =
    WithBoundary(Body({TextPart("a", "1"), FilePart("f", "a.txt", "file\r\n--ab--x\r\n"), TextPart("b", "2")}),
                 "ab--");

// A file whose bytes hold most of the delimiter again and again.
std::string NearDelimiters() {
    std::string content;
    for (int i = 0; i < 200; ++i) content += std::string("\r\n--") + std::string(kBoundary).substr(0, i % 30) + "x";
    return content;
}

TEST_F(LoadRequestTest, AnswersAsLoadOfTheSameBody) {
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(65001));
    const struct {
        const char* label;
        std::string body;
        long lCodePage;
    } bodies[] = {
        {"UTF-8 page", kUtf8Form, 65001},
        {"Shift_JIS page", kSjisForm, 932},
        {"file full of near delimiters", Body({FilePart("f", "a.bin", NearDelimiters()), TextPart("t", "v")}),
         65001},
        {"no parts", std::string("--") + kBoundary + "--\r\n", 65001},
        {"only an empty value", Body({TextPart("e", "")}), 65001},
        {"boundary ending in dashes", kDashForm, 65001},
    };
    for (const auto& body : bodies) {
        IUpload* pWhole = NewUpload();
        ASSERT_NE(nullptr, pWhole);
        ASSERT_EQ(S_OK, pWhole->put_CodePage(body.lCodePage));
        ASSERT_EQ(S_OK, m_pUpload->put_CodePage(body.lCodePage));
        ScriptVariable bytes;
        SetBytes(bytes.get(), body.body);
        ASSERT_EQ(S_OK, pWhole->Load(bytes.get())) << body.label;
        const FormListing expected = Listing(pWhole);
        for (std::size_t cbPiece : {std::size_t(1), std::size_t(7), std::size_t(1000), SIZE_MAX}) {
            SCOPED_TRACE(std::string(body.label) + ", pieces of " + std::to_string(cbPiece));
            FakeRequest request(body.body);
            request.cbPiece = cbPiece;
            ASSERT_EQ(S_OK, m_pUpload->LoadRequest(&request));
            EXPECT_TRUE(Listing(m_pUpload) == expected);
            // Read through the closing line; what follows it is not the form's.
            EXPECT_GE(request.cbRead, body.body.rfind("--") + 2);
        }
        pWhole->Release();
    }
}

// A first line that is also a closing line is the first delimiter when a
// later line is: Load and LoadRequest list the form's parts.
TEST_F(LoadRequestTest, FirstLineEndingInDashesKeepsTheForm) {
    ASSERT_EQ(S_OK, Load(kDashForm));
    EXPECT_EQ(3, Count());
    EXPECT_EQ(L"2", Item(L"b"));
    for (std::size_t cbPiece : {std::size_t(1), std::size_t(5), SIZE_MAX}) {
        SCOPED_TRACE(cbPiece);
        FakeRequest request(kDashForm);
        request.cbPiece = cbPiece;
        ASSERT_EQ(S_OK, m_pUpload->LoadRequest(&request));
        EXPECT_EQ(3, Count());
        ASSERT_EQ(1u, Files().size());
        EXPECT_EQ("file\r\n--ab--x\r\n", Files()[0].bytes);
    }
    // Without such a line it closes a form with no field, and a file begun
    // after it is not kept.
    const std::string empty = "--ab--\r\n" + FilePart("f", "a.txt", std::string(5000, 'x')).substr(2 + 30 + 2);
    ASSERT_EQ(0u, empty.find("--ab--\r\nContent-Disposition"));
    for (std::size_t cbPiece : {std::size_t(7), SIZE_MAX}) {
        FakeRequest request(empty);
        request.cbPiece = cbPiece;
        ASSERT_EQ(S_OK, m_pUpload->LoadRequest(&request));
        EXPECT_EQ(0, Count());
        EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles());
    }
    ASSERT_EQ(S_OK, Load(empty));
    EXPECT_EQ(0, Count());
}

// The boundary of the request's Content-Type is the body's: the first line
// must be its delimiter line, or its closing line for a form with no field;
// a request that names none leaves the first line to say it.
TEST_F(LoadRequestTest, ContentTypeBoundaryChecksTheFirstLine) {
    const std::wstring kMismatch =
        L"multipart/form-data の本文ではありません。本文の最初の行が Content-Type の boundary と一致しません。";
    const std::string plainForm = Body({TextPart("a", "1"), FilePart("f", "a.txt", "bytes")});
    const std::string closingOnly = "--ab--\r\n";
    enum Given { kText, kList, kNull, kFails, kNoMember };
    const struct {
        const char* label;
        Given given;
        const wchar_t* type;
        std::string body;
        long count;  // -1: refused as not matching
    } cases[] = {
        {"its boundary", kText, L"multipart/form-data; boundary=----WebKitFormBoundaryVaro7Ff3", plainForm, 2},
        {"quoted, in any case", kText, L"Multipart/Form-Data; charset=UTF-8; BOUNDARY=\"ab--\"", kDashForm, 3},
        {"a list object's value", kList, L"multipart/form-data; boundary=ab--", kDashForm, 3},
        {"its closing line", kText, L"multipart/form-data; boundary=ab", closingOnly, 0},
        {"its closing line, then another boundary's parts", kText, L"multipart/form-data; boundary=ab", kDashForm, -1},
        {"another boundary", kText, L"multipart/form-data; boundary=xyz", plainForm, -1},
        {"a boundary one dash longer", kText, L"multipart/form-data; boundary=ab---", kDashForm, -1},
        {"no boundary parameter", kText, L"multipart/form-data", kDashForm, 3},
        {"not a multipart type", kText, L"application/octet-stream; boundary=xyz", plainForm, 2},
        {"an empty text", kText, L"", plainForm, 2},
        {"Null", kNull, nullptr, kDashForm, 3},
        {"a failing ServerVariables", kFails, nullptr, plainForm, 2},
        {"no ServerVariables", kNoMember, nullptr, kDashForm, 3},
    };
    for (const auto& c : cases) {
        for (std::size_t cbPiece : {std::size_t(3), SIZE_MAX}) {
            SCOPED_TRACE(std::string(c.label) + ", pieces of " + std::to_string(cbPiece));
            ASSERT_EQ(S_OK, LoadRequestOf(Body({TextPart("kept", "yes")})));
            FakeRequest request(c.body);
            request.cbPiece = cbPiece;
            if (c.given == kText) request.SetContentType(c.type);
            if (c.given == kList) request.SetContentTypeList(c.type);
            if (c.given == kNull) request.contentType.vt = VT_NULL;
            if (c.given == kFails) {
                request.contentType.vt = VT_ERROR;
                request.contentType.scode = E_FAIL;
            }
            const HRESULT hr = m_pUpload->LoadRequest(&request);
            if (c.given != kNoMember) {
                EXPECT_EQ(std::vector<std::wstring>{L"CONTENT_TYPE"}, request.variablesAsked);
                EXPECT_EQ(1, request.nVariableReadsBeforeBody) << "asked once, before the body is read";
            }
            if (c.count < 0) {
                EXPECT_EQ(Refused::kNotForm, hr);
                EXPECT_EQ(kMismatch, Published());
                EXPECT_EQ(L"yes", Item(L"kept")) << "the earlier form stays";
                EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles()) << "no temporary file is left";
                continue;
            }
            ASSERT_EQ(S_OK, hr) << Published();
            EXPECT_EQ(c.count, Count());
            EXPECT_EQ(L"<empty>", Item(L"kept"));
        }
    }
    // Its closing line with a file part after it that no later line ends:
    // a form with no field, and nothing spooled is left.
    FakeRequest request(closingOnly + FilePart("f", "a.txt", std::string(3000, 'x')).substr(2 + 30 + 2));
    request.cbPiece = 100;
    request.SetContentType(L"multipart/form-data; boundary=ab");
    ASSERT_EQ(S_OK, m_pUpload->LoadRequest(&request));
    EXPECT_EQ(0, Count());
    EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles());
}

TEST_F(LoadRequestTest, LimitsAndEarlyEndsRefuseAndKeepNothing) {
    ASSERT_EQ(S_OK, LoadRequestOf(Body({TextPart("kept", "yes")})));
    const std::string big(300000, 'b');
    const std::string body = Body({TextPart("field", std::string(2000, 'v')), FilePart("f", "a.bin", big),
                                   FilePart("g", "b.bin", big)});
    const struct {
        const char* label;
        double maxBytes, maxFileBytes, maxFieldBytes;
        std::size_t cbEndAfter;
        const wchar_t* message;
        bool bReadsEverything;
        HRESULT hr;  // the number a page tells the cause by
    } cases[] = {
        {"body over MaxBytes", 1000, 0, 0, SIZE_MAX, L"MaxBytes (1000 バイト)", false, Refused::kMaxBytes},
        {"a file over MaxFileBytes", 0, 299999, 0, SIZE_MAX, L"MaxFileBytes (299999 バイト)", false,
         Refused::kMaxFileBytes},
        {"a value over MaxFieldBytes", 0, 0, 1999, SIZE_MAX, L"MaxFieldBytes (1999 バイト)", false,
         Refused::kMaxFieldBytes},
        {"the client goes away", 0, 0, 0, 400000, L"途中で終わりました (400000 / ", false, Refused::kEndedEarly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(S_OK, m_pUpload->put_MaxBytes(c.maxBytes));
        ASSERT_EQ(S_OK, m_pUpload->put_MaxFileBytes(c.maxFileBytes));
        ASSERT_EQ(S_OK, m_pUpload->put_MaxFieldBytes(c.maxFieldBytes));
        FakeRequest request(body);
        request.cbEndAfter = c.cbEndAfter;
        EXPECT_EQ(c.hr, m_pUpload->LoadRequest(&request));
        const std::wstring message = Published();
        EXPECT_NE(std::wstring::npos, message.find(c.message)) << message;
        EXPECT_LT(request.cbRead, body.size()) << "refused before the end";
        EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles()) << "no temporary file is left";
        EXPECT_EQ(L"yes", Item(L"kept"));
    }
    // Limits that are met let the same body through.
    ASSERT_EQ(S_OK, m_pUpload->put_MaxBytes(static_cast<double>(body.size())));
    ASSERT_EQ(S_OK, m_pUpload->put_MaxFileBytes(300000));
    ASSERT_EQ(S_OK, m_pUpload->put_MaxFieldBytes(2000));
    EXPECT_EQ(S_OK, LoadRequestOf(body));
    EXPECT_EQ(2u, Files().size());

    double dbl = -1;
    EXPECT_EQ(E_INVALIDARG, m_pUpload->put_MaxFileBytes(-1));
    EXPECT_EQ(L"MaxFileBytes には 0 以上の数を指定してください。", Published());
    EXPECT_EQ(S_OK, m_pUpload->get_MaxFileBytes(&dbl));
    EXPECT_EQ(300000, dbl);
    // A fraction is refused, not cut: 0.5 would have meant no limit at all.
    const struct {
        HRESULT (STDMETHODCALLTYPE IUpload::*put)(double);
        HRESULT (STDMETHODCALLTYPE IUpload::*get)(double*);
        const wchar_t* message;
    } limits[] = {
        {&IUpload::put_MaxBytes, &IUpload::get_MaxBytes, L"MaxBytes にはバイト数を整数で指定してください。"},
        {&IUpload::put_MaxFileBytes, &IUpload::get_MaxFileBytes, L"MaxFileBytes にはバイト数を整数で指定してください。"},
        {&IUpload::put_MaxFieldBytes, &IUpload::get_MaxFieldBytes,
         L"MaxFieldBytes にはバイト数を整数で指定してください。"},
    };
    for (const auto& limit : limits) {
        SCOPED_TRACE(std::wstring(limit.message).substr(0, 13).c_str());
        for (double dblFraction : {0.5, 1000.25}) {
            EXPECT_EQ(E_INVALIDARG, (m_pUpload->*limit.put)(dblFraction));
            EXPECT_EQ(limit.message, Published());
        }
        EXPECT_EQ(S_OK, (m_pUpload->*limit.get)(&dbl));
        EXPECT_EQ(std::floor(dbl), dbl) << "the earlier limit stands";
        EXPECT_EQ(S_OK, (m_pUpload->*limit.put)(1e15));  // whole, however large
    }
}

TEST_F(LoadRequestTest, DefaultsAndBadRequestObjects) {
    IUpload* pFresh = NewUpload();
    double dbl = -1;
    EXPECT_EQ(S_OK, pFresh->get_MaxBytes(&dbl));
    EXPECT_EQ(0, dbl);
    EXPECT_EQ(S_OK, pFresh->get_MaxFileBytes(&dbl));
    EXPECT_EQ(0, dbl);
    EXPECT_EQ(S_OK, pFresh->get_MaxFieldBytes(&dbl));
    EXPECT_EQ(1048576, dbl);
    BSTR bstrFolder = nullptr;
    wchar_t szTemp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, szTemp);
    EXPECT_EQ(S_OK, pFresh->get_TempFolder(&bstrFolder));
    EXPECT_EQ(std::wstring(szTemp), Text(bstrFolder));
    SysFreeString(bstrFolder);
    pFresh->Release();

    // The default limit on a text value.
    EXPECT_EQ(Refused::kMaxFieldBytes, LoadRequestOf(Body({TextPart("big", std::string(1048577, 'x'))})));
    EXPECT_NE(std::wstring::npos, Published().find(L"MaxFieldBytes (1048576 バイト)"));

    const wchar_t kNotRequest[] = L"LoadRequest には Request オブジェクト";
    EXPECT_EQ(Refused::kNotRequest, m_pUpload->LoadRequest(nullptr));
    EXPECT_EQ(0u, Published().find(kNotRequest));
    IDispatch* pUploadItself = nullptr;
    ASSERT_EQ(S_OK, m_pUpload->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pUploadItself)));
    EXPECT_EQ(Refused::kNotRequest, m_pUpload->LoadRequest(pUploadItself)) << "no TotalBytes, no BinaryRead";
    EXPECT_EQ(0u, Published().find(kNotRequest));
    pUploadItself->Release();

    const std::string body = Body({TextPart("a", "1")});
    const struct {
        const char* label;
        HRESULT hrRead;
        bool bDeferFailure;
        bool bGiveText;
        VARTYPE vtTotal;  // VT_EMPTY: the body's size
        double total;
        HRESULT hr;
        const wchar_t* message;
    } cases[] = {
        {"BinaryRead fails", E_ACCESSDENIED, false, false, VT_EMPTY, 0, E_ACCESSDENIED,
         L"Request.BinaryRead が失敗しました (コード 0x80070005)"},
        {"BinaryRead fails, its reason filled in later", E_ACCESSDENIED, true, false, VT_EMPTY, 0, E_ACCESSDENIED,
         L"Request.BinaryRead が失敗しました (コード 0x80070005)"},
        {"BinaryRead gives text", S_OK, false, true, VT_EMPTY, 0, Refused::kReadNotBytes, L"バイト配列を返しませんでした"},
        {"TotalBytes negative", S_OK, false, false, VT_R8, -5, Refused::kBadTotalBytes, L"Request.TotalBytes が"},
        {"TotalBytes fractional", S_OK, false, false, VT_R8, 2.5, Refused::kBadTotalBytes, L"Request.TotalBytes が"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRequest request(body);
        request.hrRead = c.hrRead;
        request.bDeferFailure = c.bDeferFailure;
        request.bGiveText = c.bGiveText;
        request.total.vt = c.vtTotal;
        request.total.dblVal = c.total;
        EXPECT_EQ(c.hr, m_pUpload->LoadRequest(&request));
        const std::wstring message = Published();
        EXPECT_NE(std::wstring::npos, message.find(c.message)) << message;
    }
}

// A temporary file that cannot be made or filled refuses the request with the
// system's reason, and leaves nothing behind.
TEST_F(LoadRequestTest, SpoolFailuresRefuseAndLeaveNothing) {
    ASSERT_EQ(S_OK, LoadRequestOf(Body({TextPart("kept", "yes")})));
    const std::string body = Body({FilePart("f", "a.bin", std::string(100000, 'f'))});

    const std::wstring missing = m_spool + L"\\missing";
    BSTR bstrFolder = SysAllocString(missing.c_str());
    ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder));
    SysFreeString(bstrFolder);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), LoadRequestOf(body));
    const std::wstring message = Published();
    EXPECT_EQ(0u, message.find(L"TempFolder に一時ファイルを作成できませんでした。 ("));
    EXPECT_NE(std::wstring::npos, message.find(L"コード 3)")) << "the system's reason";
    EXPECT_EQ(L"yes", Item(L"kept"));

    bstrFolder = SysAllocString(L"");
    ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder)) << "back to the system's folder";
    SysFreeString(bstrFolder);
    bstrFolder = SysAllocString(m_spool.c_str());
    ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder));
    SysFreeString(bstrFolder);
    {
        ImportPatch diskFull(m_dll.Module(), "kernel32.dll", "WriteFile",
                             reinterpret_cast<const void*>(&WriteFileDiskFull));
        ASSERT_TRUE(diskFull.Applied());
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), LoadRequestOf(body));
    }
    EXPECT_EQ(0u, Published().find(L"一時ファイルに書き込めませんでした。 ("));
    EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles());
    EXPECT_EQ(L"yes", Item(L"kept"));
}

TEST_F(LoadRequestTest, TemporaryFilesLiveAsLongAsTheirForm) {
    const std::string body = Body({FilePart("a", "a.txt", "first file"), FilePart("b", "b.txt", "second"),
                                   FilePart("untouched", "", "")});
    ASSERT_EQ(S_OK, LoadRequestOf(body));
    std::vector<std::wstring> spooled = SpoolFiles();
    ASSERT_EQ(2u, spooled.size()) << "one per file with bytes";
    // Nobody else opens, replaces or removes them.
    const std::wstring first = m_spool + L"\\" + spooled[0];
    HANDLE hOther = CreateFileW(first.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, hOther);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    if (hOther != INVALID_HANDLE_VALUE) CloseHandle(hOther);
    EXPECT_FALSE(DeleteFileW(first.c_str()));

    // A file object keeps its form's files; a replacing load lets the rest go.
    BSTR bstrName = SysAllocString(L"b");
    IDispatch* pKept = nullptr;
    ASSERT_EQ(S_OK, m_pUpload->File(bstrName, &pKept));
    SysFreeString(bstrName);
    ASSERT_EQ(S_OK, LoadRequestOf(Body({TextPart("t", "v")})));
    EXPECT_EQ(2u, SpoolFiles().size()) << "the file object still reads them";
    IUploadedFile* pFile = nullptr;
    ASSERT_EQ(S_OK, pKept->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pFile)));
    EXPECT_EQ("second", Describe(pFile).bytes);
    pFile->Release();
    pKept->Release();
    EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles());

    ASSERT_EQ(S_OK, LoadRequestOf(body));
    EXPECT_EQ(2u, SpoolFiles().size());
    m_pUpload->Release();
    m_pUpload = nullptr;
    EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles()) << "gone with the Upload object";
}

// SaveAs moves the temporary file on its volume: nothing is copied, the
// spool folder empties, and the file still reads from where it went.
TEST_F(LoadRequestTest, SaveAsMovesOnTheSameVolumeAndNeverOverwrites) {
    const std::string content = NearDelimiters();
    ASSERT_EQ(S_OK, LoadRequestOf(Body({FilePart("f", "a.bin", content)})));
    ASSERT_EQ(1u, SpoolFiles().size());
    BSTR bstrName = SysAllocString(L"f");
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, m_pUpload->File(bstrName, &pDispatch));
    SysFreeString(bstrName);
    IUploadedFile* pFile = nullptr;
    ASSERT_EQ(S_OK, pDispatch->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pFile)));
    pDispatch->Release();

    const std::wstring dir(m_dir.begin(), m_dir.end());
    const std::wstring existing = dir + L"\\existing.bin";
    HANDLE h = CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    CloseHandle(h);
    BSTR bstrExisting = SysAllocString(existing.c_str());
    const HRESULT hrExisting = pFile->SaveAs(bstrExisting, Missing());
    EXPECT_TRUE(hrExisting == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) ||
                hrExisting == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS))
        << std::hex << hrExisting;
    EXPECT_EQ("", ReadFileBytesW(existing));
    EXPECT_EQ(1u, SpoolFiles().size()) << "still spooled after a refused move";
    SysFreeString(bstrExisting);

    BSTR bstrTarget = SysAllocString((dir + L"\\moved.bin").c_str());
    ASSERT_EQ(S_OK, pFile->SaveAs(bstrTarget, Missing()));
    SysFreeString(bstrTarget);
    EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles()) << "moved, not copied";
    EXPECT_EQ(content, ReadFileBytesW(dir + L"\\moved.bin"));
    EXPECT_EQ(content, Describe(pFile).bytes) << "read from where it was moved";
    BSTR bstrFolder = SysAllocString(dir.c_str());
    BSTR bstrPath = nullptr;
    ASSERT_EQ(S_OK, pFile->SaveUnique(bstrFolder, &bstrPath)) << "a second save copies";
    EXPECT_EQ(content, ReadFileBytesW(Text(bstrPath)));
    SysFreeString(bstrPath);
    SysFreeString(bstrFolder);
    pFile->Release();
    m_pUpload->Release();
    m_pUpload = nullptr;
    EXPECT_EQ(content, ReadFileBytesW(dir + L"\\moved.bin")) << "a moved file is the page's";
}

// Another volume: the temporary file is copied and stays until its form goes.
TEST_F(LoadRequestTest, SaveAsCopiesAcrossVolumes) {
    const std::wstring otherVolume = L"Z:\\dev\\shm\\varo-spool-" + std::to_wstring(GetCurrentProcessId());
    if (!CreateDirectoryW(otherVolume.c_str(), nullptr)) GTEST_SKIP() << "no second volume to spool on";
    BSTR bstrFolder = SysAllocString(otherVolume.c_str());
    ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder));
    SysFreeString(bstrFolder);
    ASSERT_EQ(S_OK, LoadRequestOf(Body({FilePart("f", "a.bin", "across")})));
    std::vector<IUploadedFile*> files;
    VARIANT list;
    VariantInit(&list);
    ASSERT_EQ(S_OK, m_pUpload->get_Files(&list));
    files = FilesOf(list);
    VariantClear(&list);
    ASSERT_EQ(1u, files.size());
    const std::wstring target = std::wstring(m_dir.begin(), m_dir.end()) + L"\\copied.bin";
    BSTR bstrTarget = SysAllocString(target.c_str());
    EXPECT_EQ(S_OK, files[0]->SaveAs(bstrTarget, Missing()));
    SysFreeString(bstrTarget);
    EXPECT_EQ("across", ReadFileBytesW(target));
    files[0]->Release();
    m_pUpload->Release();
    m_pUpload = nullptr;
    EXPECT_TRUE(RemoveDirectoryW(otherVolume.c_str())) << "the temporary file went with its form";
}

// A process that ends without releasing its form leaves no temporary file.
TEST_F(LoadRequestTest, ProcessEndRemovesTemporaryFiles) {
    if (const char* pszChild = std::getenv("VARO_SPOOL_CHILD")) {
        // The child's own folders go first: it never reaches TearDown.
        RemoveDirectoryW(m_spool.c_str());
        RemoveDirectoryA(m_dir.c_str());
        m_spool.assign(pszChild, pszChild + strlen(pszChild));
        BSTR bstrFolder = SysAllocString(m_spool.c_str());
        m_pUpload->put_TempFolder(bstrFolder);
        SysFreeString(bstrFolder);
        if (LoadRequestOf(Body({FilePart("f", "a.bin", "left behind?")})) == S_OK && SpoolFiles().size() == 1)
            ExitProcess(7);
        ExitProcess(1);
    }
    wchar_t szExe[MAX_PATH];
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(szExe) + L"\" --gtest_filter=LoadRequestTest.ProcessEndRemovesTemporaryFiles";
    SetEnvironmentVariableA("VARO_SPOOL_CHILD", std::string(m_spool.begin(), m_spool.end()).c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;  // the child's report is not this test's output
    si.hStdInput = si.hStdOutput = si.hStdError = nullptr;
    PROCESS_INFORMATION pi{};
    const BOOL bStarted = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA("VARO_SPOOL_CHILD", nullptr);
    ASSERT_TRUE(bStarted);
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD dwExit = 0;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(7u, dwExit) << "the child spooled its file and ended holding it";
    EXPECT_EQ(std::vector<std::wstring>{}, SpoolFiles());
}

}  // namespace

// VARO.Resumable of the built VARO.DLL answering tus requests through page
// stand-ins, against a store folder of its own: an upload made, sent in
// chunks and asked about; the protocol's refusals with the store untouched;
// the write lock against a second writer in this process and in another
// that is then killed; expiry and the sweep; termination.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "page_stand_ins.h"
#include "resumable/upload_record.h"
#include "test_paths.h"
#include "upload/upload_client.h"

namespace {

constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;
const wchar_t kOctets[] = L"application/offset+octet-stream";

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Base64(const std::string& bytes) {
    static const char kszAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t cb = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t n = 0;
        for (std::size_t k = 0; k < 3; ++k) n = n << 8 | (k < cb ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (std::size_t k = 0; k < 4; ++k) text += k <= cb ? kszAlphabet[n >> (18 - 6 * k) & 0x3F] : '=';
    }
    return text;
}

std::string Noise(std::size_t cb, std::uint32_t nSeed) {
    std::string bytes(cb, '\0');
    for (char& ch : bytes) {
        nSeed = nSeed * 1664525u + 1013904223u;
        ch = static_cast<char>(nSeed >> 24);
    }
    return bytes;
}

// Holds the upload's write lock through a handle of its own, as another
// worker would.
class ForeignLock {
public:
    explicit ForeignLock(const std::wstring& bin) {
        m_h = CreateFileW(bin.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(kLockOffset);
        ov.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
        m_bLocked = m_h != INVALID_HANDLE_VALUE &&
                    LockFileEx(m_h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov);
    }
    ~ForeignLock() {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    }
    bool Locked() const { return m_bLocked; }

private:
    HANDLE m_h;
    bool m_bLocked = false;
};

class ResumableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_apartment.status());
        ASSERT_EQ(S_OK, m_registered.status());
        ASSERT_TRUE(m_dll.Load());
        IClassFactory* pFactory = nullptr;
        ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_Resumable, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
        pFactory->CreateInstance(nullptr, IID_IResumable, reinterpret_cast<void**>(&m_p));
        pFactory->Release();
        ASSERT_NE(nullptr, m_p);
        wchar_t szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        m_dir = std::wstring(szTemp) + L"varo-tus-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_dir.c_str(), nullptr);
        BSTR bstr = SysAllocString(m_dir.c_str());
        ASSERT_EQ(S_OK, m_p->put_Folder(bstr));
        SysFreeString(bstr);
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override {
        if (m_p) m_p->Release();
        EXPECT_EQ(S_OK, m_dll.CanUnloadNow()) << "an object is still alive";
        for (const std::wstring& name : FileNamesIn(m_dir)) DeleteFileW((m_dir + L"\\" + name).c_str());
        RemoveDirectoryW(m_dir.c_str());
    }

    // One request answered; the response as written.
    TusResponse Send(std::map<std::wstring, std::wstring> variables, const std::string& body = "",
                     TusRequest** ppKept = nullptr, std::size_t cbEndAfter = SIZE_MAX) {
        variables.emplace(L"HTTP_TUS_RESUMABLE", L"1.0.0");
        variables.emplace(L"HTTP_HOST", L"example.test");
        variables.emplace(L"URL", L"/up.asp");
        m_request.reset(new TusRequest(variables, body));
        m_request->cbEndAfter = cbEndAfter;
        if (ppKept) *ppKept = m_request.get();
        TusResponse response;
        m_hrLast = m_p->Handle(m_request.get(), &response);
        EXPECT_EQ(S_OK, m_hrLast) << PublishedDescription();
        LONG lStatus = 0;
        m_p->get_Status(&lStatus);
        EXPECT_EQ(lStatus, response.Code());
        return response;
    }
    std::wstring Create(std::uint64_t cbLength, const std::wstring& metadata = L"") {
        std::map<std::wstring, std::wstring> vars = {{L"REQUEST_METHOD", L"POST"},
                                                     {L"HTTP_UPLOAD_LENGTH", std::to_wstring(cbLength)}};
        if (!metadata.empty()) vars[L"HTTP_UPLOAD_METADATA"] = metadata;
        TusResponse response = Send(vars);
        EXPECT_EQ(response.status, L"201 Created");
        const std::wstring location = response.Header(L"Location");
        const std::wstring prefix = L"http://example.test/up.asp?id=";
        EXPECT_EQ(location.substr(0, prefix.size()), prefix);
        return location.size() > prefix.size() ? location.substr(prefix.size()) : L"";
    }
    TusResponse Patch(const std::wstring& id, std::uint64_t cbOffset, const std::string& body,
                      std::map<std::wstring, std::wstring> more = {}, std::size_t cbEndAfter = SIZE_MAX) {
        more[L"REQUEST_METHOD"] = L"PATCH";
        more[L"QUERY_STRING"] = L"id=" + id;
        more[L"HTTP_UPLOAD_OFFSET"] = std::to_wstring(cbOffset);
        more.emplace(L"CONTENT_TYPE", kOctets);
        return Send(more, body, nullptr, cbEndAfter);
    }
    TusResponse Head(const std::wstring& id) { return Send({{L"REQUEST_METHOD", L"HEAD"}, {L"QUERY_STRING", L"id=" + id}}); }
    std::wstring PathOf(const std::wstring& id, const wchar_t* pszExtension) { return m_dir + L"\\" + id + pszExtension; }
    std::set<std::wstring> Files() {
        std::vector<std::wstring> names = FileNamesIn(m_dir);
        return std::set<std::wstring>(names.begin(), names.end());
    }
    std::wstring Property(HRESULT (STDMETHODCALLTYPE IResumable::*get)(BSTR*)) {
        BSTR bstr = nullptr;
        (m_p->*get)(&bstr);
        std::wstring text = Text(bstr);
        SysFreeString(bstr);
        return text;
    }
    double Number(HRESULT (STDMETHODCALLTYPE IResumable::*get)(double*)) {
        double dbl = -2;
        (m_p->*get)(&dbl);
        return dbl;
    }
    std::wstring Metadata(const wchar_t* pszKey) {
        BSTR bstrKey = SysAllocString(pszKey), bstr = nullptr;
        m_p->get_Metadata(bstrKey, &bstr);
        std::wstring text = Text(bstr);
        SysFreeString(bstrKey);
        SysFreeString(bstr);
        return text;
    }
    // Rewrites an upload's record with another expiry, as time passing would.
    void SetExpiry(const std::wstring& id, std::int64_t tExpires) {
        std::string bytes = ReadFileBytesW(PathOf(id, L".rec"));
        resumable::UploadRecord rec;
        ASSERT_EQ(resumable::RecordStatus::kOk,
                  resumable::ReadUploadRecord(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &rec));
        rec.tCreated = tExpires > 10 ? tExpires - 10 : 0;
        rec.tExpires = tExpires;
        std::string metadata(reinterpret_cast<const char*>(rec.pbMetadata), rec.cbMetadata);
        rec.pbMetadata = reinterpret_cast<const unsigned char*>(metadata.data());
        std::string out(resumable::kcbMaxUploadRecord, '\0');
        out.resize(resumable::WriteUploadRecord(rec, reinterpret_cast<unsigned char*>(&out[0]), out.size()));
        ASSERT_FALSE(out.empty());
        HANDLE h = CreateFileW(PathOf(id, L".rec").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD cb = 0;
        WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &cb, nullptr);
        CloseHandle(h);
    }

    ComApartment m_apartment;
    RegisteredServer m_registered;
    VaroDll m_dll;
    IResumable* m_p = nullptr;
    std::wstring m_dir;
    std::unique_ptr<TusRequest> m_request;
    HRESULT m_hrLast = S_OK;
};

TEST_F(ResumableTest, UploadMadeSentInChunksAndAskedAbout) {
    const std::string data = Noise(300000, 7);
    const std::wstring name = L"\u8acb\u6c42\u66f8 2024.pdf";
    const std::wstring metadata = Wide("filename " + Base64(Utf8(name)) + ",filetype " + Base64("application/pdf"));
    const std::wstring id = Create(data.size(), metadata);
    ASSERT_EQ(32u, id.size());
    EXPECT_EQ(std::wstring::npos, id.find_first_not_of(L"0123456789abcdef"));
    EXPECT_EQ((std::set<std::wstring>{id + L".bin", id + L".rec"}), Files());
    EXPECT_EQ(id, Property(&IResumable::get_Id));
    for (std::size_t cbAt = 0; cbAt < data.size(); cbAt += 120000) {
        TusResponse head = Head(id);
        EXPECT_EQ(head.status, L"200 OK");
        EXPECT_EQ(head.Header(L"Upload-Offset"), std::to_wstring(cbAt));
        EXPECT_EQ(head.Header(L"Upload-Length"), L"300000");
        EXPECT_EQ(head.Header(L"Upload-Metadata"), metadata);
        EXPECT_EQ(head.Header(L"Cache-Control"), L"no-store");
        EXPECT_NE(head.Header(L"Upload-Expires"), L"<absent>");
        const std::string chunk = data.substr(cbAt, 120000);
        TusResponse patch = Patch(id, cbAt, chunk);
        EXPECT_EQ(patch.status, L"204 No Content");
        EXPECT_EQ(patch.Header(L"Upload-Offset"), std::to_wstring(cbAt + chunk.size()));
        EXPECT_EQ(patch.Header(L"Tus-Resumable"), L"1.0.0");
        // Constant memory: no read asks for more than a piece.
        EXPECT_LE(m_request->cbLargestAsked, 64u * 1024);
    }
    VARIANT_BOOL bComplete = VARIANT_FALSE;
    m_p->get_Complete(&bComplete);
    EXPECT_EQ(VARIANT_TRUE, bComplete);
    EXPECT_EQ(300000, Number(&IResumable::get_Offset));
    EXPECT_EQ(300000, Number(&IResumable::get_Length));
    EXPECT_EQ(name, Metadata(L"filename"));
    EXPECT_EQ(L"application/pdf", Metadata(L"filetype"));
    EXPECT_EQ(L"", Metadata(L"missing"));
    EXPECT_EQ(data, ReadFileBytesW(PathOf(id, L".bin")));
    TusResponse head = Head(id);
    EXPECT_EQ(head.Header(L"Upload-Offset"), L"300000");
    EXPECT_EQ(head.Header(L"Upload-Expires"), L"<absent>");

    // The file, as VARO.Upload's files are; saving it takes it out of the store.
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, m_p->get_File(&pDispatch)) << PublishedDescription();
    IUploadedFile* pFile = nullptr;
    ASSERT_EQ(S_OK, pDispatch->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pFile)));
    pDispatch->Release();
    const FileFacts facts = Describe(pFile);
    EXPECT_EQ(name, facts.fileName);
    EXPECT_EQ(L"pdf", facts.extension);
    EXPECT_EQ(L"application/pdf", facts.contentType);
    EXPECT_EQ(300000, facts.size);
    EXPECT_EQ(data, facts.bytes);
    EXPECT_EQ(64u, HashOf(pFile, L"SHA256").size());
    const std::wstring target = m_dir + L"\\saved.pdf";
    BSTR bstrTarget = SysAllocString(target.c_str());
    EXPECT_EQ(S_OK, pFile->SaveAs(bstrTarget, Missing())) << PublishedDescription();
    SysFreeString(bstrTarget);
    pFile->Release();
    EXPECT_EQ(data, ReadFileBytesW(target));
    EXPECT_EQ(Head(id).Code(), 404);
    EXPECT_EQ(Files(), std::set<std::wstring>{L"saved.pdf"});
}

TEST_F(ResumableTest, OpenGivesACompletedUploadsFileInALaterRequest) {
    const std::wstring id = Create(5, Wide("filename " + Base64("a.txt")));
    const std::wstring unfinished = Create(5);
    ASSERT_EQ(Patch(id, 0, "hello").Code(), 204);
    m_p->Release();
    m_p = nullptr;
    // A later request: a new object, the upload named by its URL.
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_Resumable, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    pFactory->CreateInstance(nullptr, IID_IResumable, reinterpret_cast<void**>(&m_p));
    pFactory->Release();
    ASSERT_NE(nullptr, m_p);
    BSTR bstr = SysAllocString(m_dir.c_str());
    m_p->put_Folder(bstr);
    SysFreeString(bstr);
    for (const std::wstring& bad : {std::wstring(L"..\\x"), L"http://h/up.asp?id=" + unfinished,
                                    L"http://h/up.asp?id=" + id + L"&id=" + id, std::wstring(L"CON")}) {
        IDispatch* pNone = reinterpret_cast<IDispatch*>(1);
        BSTR bstrBad = SysAllocString(bad.c_str());
        EXPECT_TRUE(FAILED(m_p->Open(bstrBad, &pNone))) << std::string(bad.begin(), bad.end());
        EXPECT_EQ(nullptr, pNone);
        SysFreeString(bstrBad);
        EXPECT_NE(PublishedDescription().find(L"アップロード"), std::wstring::npos);
    }
    BSTR bstrUrl = SysAllocString((L"http://h/up.asp?x=1&id=" + id).c_str());
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, m_p->Open(bstrUrl, &pDispatch)) << PublishedDescription();
    SysFreeString(bstrUrl);
    EXPECT_EQ(id, Property(&IResumable::get_Id));
    IUploadedFile* pFile = nullptr;
    ASSERT_EQ(S_OK, pDispatch->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pFile)));
    pDispatch->Release();
    EXPECT_EQ(L"a.txt", Describe(pFile).fileName);
    EXPECT_EQ("hello", Describe(pFile).bytes);
    // Held by the page: a writer is refused rather than let in.
    EXPECT_EQ(Send({{L"REQUEST_METHOD", L"DELETE"}, {L"QUERY_STRING", L"id=" + id}}).Code(), 423);
    BSTR bstrFolder = SysAllocString(m_dir.c_str());
    BSTR bstrSaved = nullptr;
    EXPECT_EQ(S_OK, pFile->SaveUnique(bstrFolder, &bstrSaved)) << PublishedDescription();
    SysFreeString(bstrFolder);
    pFile->Release();
    EXPECT_EQ("hello", ReadFileBytesW(Text(bstrSaved)));
    SysFreeString(bstrSaved);
    EXPECT_EQ(GetFileAttributesW(PathOf(id, L".bin").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Head(id).Code(), 404);
    EXPECT_EQ(GetFileAttributesW(PathOf(id, L".rec").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ResumableTest, OptionsTellsWhatIsServed) {
    m_p->put_MaxSize(1048576);
    TusResponse response = Send({{L"REQUEST_METHOD", L"OPTIONS"}});
    EXPECT_EQ(response.status, L"204 No Content");
    EXPECT_EQ(response.Header(L"Tus-Max-Size"), L"1048576");
    EXPECT_EQ(response.Header(L"Tus-Checksum-Algorithm"), L"sha1,md5,sha256");
    EXPECT_EQ(response.Header(L"Tus-Version"), L"1.0.0");
    EXPECT_TRUE(Files().empty());
}

TEST_F(ResumableTest, CreationKeepsThePageQueryAndHostInTheLocation) {
    TusResponse response = Send({{L"REQUEST_METHOD", L"POST"},
                                 {L"HTTP_UPLOAD_DEFER_LENGTH", L"1"},
                                 {L"QUERY_STRING", L"app=1&id=ffffffffffffffffffffffffffffffff"},
                                 {L"HTTPS", L"on"},
                                 {L"HTTP_HOST", L"h\r\nX-Injected: 1"}});
    EXPECT_EQ(response.status, L"201 Created");
    const std::wstring location = response.Header(L"Location");
    const std::wstring prefix = L"https://h%0D%0AX-Injected:%201/up.asp?app=1&id=";
    EXPECT_EQ(location.substr(0, prefix.size()), prefix);
    EXPECT_EQ(location.size(), prefix.size() + 32);
    EXPECT_EQ(-1, Number(&IResumable::get_Length));
}

TEST_F(ResumableTest, OffsetMismatchIsRefusedWithNothingRead) {
    const std::wstring id = Create(10);
    ASSERT_EQ(Patch(id, 0, "abc").Code(), 204);
    TusRequest* pRequest = nullptr;
    TusResponse response = Send({{L"REQUEST_METHOD", L"PATCH"}, {L"QUERY_STRING", L"id=" + id},
                                 {L"HTTP_UPLOAD_OFFSET", L"2"}, {L"CONTENT_TYPE", kOctets}},
                                "cde", &pRequest);
    EXPECT_EQ(response.status, L"409 Conflict");
    EXPECT_EQ(0, pRequest->nReads);
    EXPECT_EQ("abc", ReadFileBytesW(PathOf(id, L".bin")));
    EXPECT_EQ(Head(id).Header(L"Upload-Offset"), L"3");
}

TEST_F(ResumableTest, IdsThatAreNotThisStoresAreUnknownWithoutTouchingFiles) {
    const std::wstring id = Create(10);
    ASSERT_EQ(Patch(id, 0, "abc").Code(), 204);
    // A file an id might name if it were taken as a name.
    HANDLE h = CreateFileW((m_dir + L"\\victim.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    const std::set<std::wstring> before = Files();
    std::wstring upper = id;
    for (wchar_t& ch : upper) ch = static_cast<wchar_t>(towupper(ch));
    const std::vector<std::wstring> bads = {L"..", L"..\\" + id, L"..\\..\\windows\\win.ini", L"c:" + id, L"CON",
                                            L"victim", upper, id + L".bin", id.substr(1), id + L"0", L"%2e%2e",
                                            id + L"&id=" + id, L""};
    for (const std::wstring& bad : bads) {
        SCOPED_TRACE(std::string(bad.begin(), bad.end()));
        for (const wchar_t* pszMethod : {L"HEAD", L"PATCH", L"DELETE"}) {
            TusResponse response = Send({{L"REQUEST_METHOD", pszMethod}, {L"QUERY_STRING", L"id=" + bad},
                                         {L"HTTP_UPLOAD_OFFSET", L"3"}, {L"CONTENT_TYPE", kOctets}},
                                        "d");
            EXPECT_EQ(response.status, L"404 Not Found") << pszMethod;
        }
    }
    EXPECT_EQ(before, Files());
    EXPECT_EQ("abc", ReadFileBytesW(PathOf(id, L".bin")));
    EXPECT_EQ("", ReadFileBytesW(m_dir + L"\\victim.bin"));
}

TEST_F(ResumableTest, OverMaxSizeIsRefusedBeforeAByteIsRead) {
    ASSERT_EQ(S_OK, m_p->put_MaxSize(100));
    EXPECT_EQ(100, Number(&IResumable::get_MaxSize));
    TusRequest* pRequest = nullptr;
    TusResponse response = Send({{L"REQUEST_METHOD", L"POST"}, {L"HTTP_UPLOAD_LENGTH", L"101"}}, "", &pRequest);
    EXPECT_EQ(response.status, L"413 Request Entity Too Large");
    EXPECT_TRUE(Files().empty());
    const std::wstring id = Create(100);
    response = Send({{L"REQUEST_METHOD", L"PATCH"}, {L"QUERY_STRING", L"id=" + id}, {L"HTTP_UPLOAD_OFFSET", L"0"},
                     {L"CONTENT_TYPE", kOctets}},
                    std::string(101, 'x'), &pRequest);
    EXPECT_EQ(response.Code(), 413);
    EXPECT_EQ(0, pRequest->nReads);
    EXPECT_EQ("", ReadFileBytesW(PathOf(id, L".bin")));
}

TEST_F(ResumableTest, BodyCutOffKeepsWhatArrivedUnlessChecked) {
    const std::wstring id = Create(1000);
    const std::string data = Noise(1000, 3);
    TusResponse response = Patch(id, 0, data.substr(0, 600), {}, 250);
    EXPECT_EQ(response.Header(L"Upload-Offset"), L"250");
    EXPECT_EQ(Head(id).Header(L"Upload-Offset"), L"250");
    EXPECT_EQ(data.substr(0, 250), ReadFileBytesW(PathOf(id, L".bin")).substr(0, 250));
    // With a checksum nothing of a cut chunk counts.
    response = Patch(id, 250, data.substr(250, 500), {{L"HTTP_UPLOAD_CHECKSUM", L"sha1 qZk+NkcGgWq6PiVxeFDCbJzQ2J0="}}, 100);
    EXPECT_EQ(response.Code(), 460);
    EXPECT_EQ(Head(id).Header(L"Upload-Offset"), L"250");
    // The rest arrives whole.
    EXPECT_EQ(Patch(id, 250, data.substr(250)).Code(), 204);
    EXPECT_EQ(data, ReadFileBytesW(PathOf(id, L".bin")));
}

TEST_F(ResumableTest, ChecksumIsCheckedThroughTheSystemsHashes) {
    const std::wstring id = Create(9);
    // The digests of "abc" in each algorithm.
    EXPECT_EQ(Patch(id, 0, "abd", {{L"HTTP_UPLOAD_CHECKSUM", L"sha1 qZk+NkcGgWq6PiVxeFDCbJzQ2J0="}}).status,
              L"460 Checksum Mismatch");
    EXPECT_EQ(Head(id).Header(L"Upload-Offset"), L"0");
    EXPECT_EQ(Patch(id, 0, "abc", {{L"HTTP_UPLOAD_CHECKSUM", L"sha1 qZk+NkcGgWq6PiVxeFDCbJzQ2J0="}}).Code(), 204);
    EXPECT_EQ(Patch(id, 3, "abc", {{L"HTTP_UPLOAD_CHECKSUM", L"md5 kAFQmDzST7DWlj99KOF/cg=="}}).Code(), 204);
    EXPECT_EQ(Patch(id, 6, "abc",
                    {{L"HTTP_UPLOAD_CHECKSUM", L"sha256 ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="}})
                  .Code(),
              204);
    EXPECT_EQ("abcabcabc", ReadFileBytesW(PathOf(id, L".bin")));
}

// A refused chunk's bytes never become part of the file, even when the
// length, given later, ends before them.
TEST_F(ResumableTest, RefusedBytesAreNotLeftInAFinishedFile) {
    TusResponse created = Send({{L"REQUEST_METHOD", L"POST"}, {L"HTTP_UPLOAD_DEFER_LENGTH", L"1"}});
    const std::wstring made = created.Header(L"Location").substr(created.Header(L"Location").size() - 32);
    EXPECT_EQ(Patch(made, 0, "abcdefgh", {{L"HTTP_UPLOAD_CHECKSUM", L"sha1 qZk+NkcGgWq6PiVxeFDCbJzQ2J0="}}).Code(), 460);
    EXPECT_EQ(Patch(made, 0, "abc", {{L"HTTP_UPLOAD_LENGTH", L"3"}}).Code(), 204);
    VARIANT_BOOL bComplete = VARIANT_FALSE;
    m_p->get_Complete(&bComplete);
    EXPECT_EQ(VARIANT_TRUE, bComplete);
    EXPECT_EQ("abc", ReadFileBytesW(PathOf(made, L".bin")));
    IDispatch* pFile = nullptr;
    EXPECT_EQ(S_OK, m_p->get_File(&pFile)) << PublishedDescription();
    if (pFile) pFile->Release();
}

TEST_F(ResumableTest, SecondWriterInThisProcessIsLockedOut) {
    const std::wstring id = Create(10);
    {
        ForeignLock lock(PathOf(id, L".bin"));
        ASSERT_TRUE(lock.Locked());
        EXPECT_EQ(Patch(id, 0, "abc").status, L"423 Locked");
        EXPECT_EQ(Send({{L"REQUEST_METHOD", L"DELETE"}, {L"QUERY_STRING", L"id=" + id}}).Code(), 423);
        EXPECT_EQ(Head(id).Code(), 200);
        LONG lRemoved = -1;
        SetExpiry(id, 1);
        EXPECT_EQ(S_OK, m_p->Sweep(&lRemoved));
        EXPECT_EQ(0, lRemoved) << "a locked upload was swept";
    }
    EXPECT_EQ(Files().size(), 2u);
}

// The child holds the lock until it is killed; the system then drops it.
TEST_F(ResumableTest, LockOfAKilledProcessIsReleased) {
    const std::wstring id = Create(10);
    const std::wstring ready = m_dir + L"\\child-ready";
    const std::string holder = WinePath(TUS_LOCK_HOLDER);
    std::wstring command = L"\"" + Wide(holder) + L"\" \"" + PathOf(id, L".bin") + L"\" \"" + ready + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    for (int i = 0; i < 600 && GetFileAttributesW(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(ready.c_str())) << "the child never held the lock";
    EXPECT_EQ(Patch(id, 0, "abc").Code(), 423);
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileW(ready.c_str());
    EXPECT_EQ(Patch(id, 0, "abc").Code(), 204);
    EXPECT_EQ("abc", ReadFileBytesW(PathOf(id, L".bin")));
}

TEST_F(ResumableTest, ExpiredUploadsAreGoneAndSwept) {
    const std::wstring met = Create(10);
    const std::wstring swept = Create(10);
    const std::wstring kept = Create(10);
    SetExpiry(met, 1000);
    SetExpiry(swept, 1000);
    EXPECT_EQ(Head(met).status, L"410 Gone");
    EXPECT_EQ(Files(), (std::set<std::wstring>{swept + L".bin", swept + L".rec", kept + L".bin", kept + L".rec"}));
    EXPECT_EQ(Patch(met, 0, "a").Code(), 404);
    LONG lRemoved = -1;
    EXPECT_EQ(S_OK, m_p->Sweep(&lRemoved));
    EXPECT_EQ(1, lRemoved);
    EXPECT_EQ(Files(), (std::set<std::wstring>{kept + L".bin", kept + L".rec"}));
    EXPECT_EQ(Head(kept).Code(), 200);
}

TEST_F(ResumableTest, DeleteRemovesBothFiles) {
    const std::wstring id = Create(10);
    ASSERT_EQ(Patch(id, 0, "abc").Code(), 204);
    EXPECT_EQ(Send({{L"REQUEST_METHOD", L"POST"}, {L"HTTP_X_HTTP_METHOD_OVERRIDE", L"DELETE"},
                    {L"QUERY_STRING", L"id=" + id}})
                  .status,
              L"204 No Content");
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(Head(id).Code(), 404);
}

TEST_F(ResumableTest, PageFaultsAreJapaneseErrors) {
    TusResponse response;
    TusRequest request({{L"REQUEST_METHOD", L"OPTIONS"}}, "");
    BSTR bstrEmpty = SysAllocString(L"");
    ASSERT_EQ(S_OK, m_p->put_Folder(bstrEmpty));
    SysFreeString(bstrEmpty);
    EXPECT_TRUE(FAILED(m_p->Handle(&request, &response)));
    EXPECT_EQ(PublishedDescription(), L"Folder にアップロードを保存するフォルダーを指定してください。");
    BSTR bstrZero = SysAllocStringLen(L"C:\\a\0b", 6);
    EXPECT_TRUE(FAILED(m_p->put_Folder(bstrZero)));
    SysFreeString(bstrZero);
    EXPECT_NE(PublishedDescription().find(L"NUL"), std::wstring::npos);
    BSTR bstrMissing = SysAllocString((m_dir + L"\\missing").c_str());
    ASSERT_EQ(S_OK, m_p->put_Folder(bstrMissing));
    SysFreeString(bstrMissing);
    EXPECT_TRUE(FAILED(m_p->Handle(&request, &response)));
    EXPECT_NE(PublishedDescription().find(L"がありません"), std::wstring::npos);
    EXPECT_TRUE(FAILED(m_p->Handle(nullptr, &response)));
    EXPECT_NE(PublishedDescription().find(L"Request"), std::wstring::npos);
    EXPECT_TRUE(FAILED(m_p->Handle(&request, nullptr)));
    EXPECT_NE(PublishedDescription().find(L"Response"), std::wstring::npos);
    EXPECT_TRUE(FAILED(m_p->put_MaxSize(-1)));
    EXPECT_TRUE(FAILED(m_p->put_MaxSize(1.5)));
    EXPECT_TRUE(FAILED(m_p->put_Expires(-1)));
    EXPECT_TRUE(response.status.empty()) << "a page fault wrote an answer";
}

}  // namespace

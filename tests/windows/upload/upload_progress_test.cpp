// An upload's progress as another request reads it through VARO.Progress:
// figures that only grow while LoadRequest reads, the end it came to (with
// the very words the page's script got for a refusal), and ids refused or
// unknown.
#include "fake_request.h"
#include "upload_client.h"

#include <atomic>
#include <thread>

namespace {

struct Snapshot {
    double bytesRead = -1, totalBytes = -1, percent = -1, remaining = 0;
    long filesDone = -1;
    std::wstring field, file, state, message;
};

std::wstring TakeText(BSTR bstr) {
    std::wstring text = Text(bstr);
    SysFreeString(bstr);
    return text;
}

Snapshot ReadOf(IProgress* pProgress, const wchar_t* pszId) {
    Snapshot snap;
    BSTR bstrId = pszId ? SysAllocString(pszId) : nullptr;
    IDispatch* pDispatch = nullptr;
    const HRESULT hr = pProgress->Read(bstrId, &pDispatch);
    SysFreeString(bstrId);
    IProgressReport* pReport = nullptr;
    if (FAILED(hr) || !pDispatch) {
        snap.state = L"<Read failed>";
        return snap;
    }
    pDispatch->QueryInterface(IID_IProgressReport, reinterpret_cast<void**>(&pReport));
    pDispatch->Release();
    if (!pReport) {
        snap.state = L"<no IProgressReport>";
        return snap;
    }
    BSTR bstr = nullptr;
    pReport->get_BytesRead(&snap.bytesRead);
    pReport->get_TotalBytes(&snap.totalBytes);
    pReport->get_Percent(&snap.percent);
    pReport->get_RemainingSeconds(&snap.remaining);
    pReport->get_FilesDone(&snap.filesDone);
    if (SUCCEEDED(pReport->get_CurrentField(&bstr))) snap.field = TakeText(bstr);
    if (SUCCEEDED(pReport->get_CurrentFile(&bstr))) snap.file = TakeText(bstr);
    if (SUCCEEDED(pReport->get_State(&bstr))) snap.state = TakeText(bstr);
    if (SUCCEEDED(pReport->get_Message(&bstr))) snap.message = TakeText(bstr);
    pReport->Release();
    return snap;
}

class UploadProgressTest : public UploadTest {
protected:
    void SetUp() override {
        UploadTest::SetUp();
        m_pProgress = NewProgress();
        ASSERT_NE(nullptr, m_pProgress);
        // Every test here ends a load under an id, and its record stays.
        m_hrCanUnload = S_FALSE;
    }
    void TearDown() override {
        if (m_pProgress) m_pProgress->Release();
        m_pProgress = nullptr;
        UploadTest::TearDown();
    }

    IProgress* NewProgress() {
        IClassFactory* pFactory = nullptr;
        IProgress* pProgress = nullptr;
        if (SUCCEEDED(m_dll.GetClassObject(CLSID_Progress, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)))) {
            pFactory->CreateInstance(nullptr, IID_IProgress, reinterpret_cast<void**>(&pProgress));
            pFactory->Release();
        }
        return pProgress;
    }

    // An id no other run of the test shares.
    static std::wstring Id(const wchar_t* pszName) {
        return std::wstring(pszName) + L"-" + std::to_wstring(GetCurrentProcessId());
    }

    HRESULT PutId(const std::wstring& id) {
        BSTR bstrId = SysAllocStringLen(id.data(), static_cast<UINT>(id.size()));
        const HRESULT hr = m_pUpload->put_ProgressID(bstrId);
        SysFreeString(bstrId);
        return hr;
    }
    std::wstring GetId() {
        BSTR bstrId = nullptr;
        if (FAILED(m_pUpload->get_ProgressID(&bstrId))) return L"<failed>";
        return TakeText(bstrId);
    }

    IProgress* m_pProgress = nullptr;
};

TEST_F(UploadProgressTest, ReaderOnAnotherThreadSeesTheLoadGrowToItsEnd) {
    const std::wstring id = Id(L"grows");
    ASSERT_EQ(S_OK, PutId(id));
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(CP_UTF8));
    const std::string body =
        Body({TextPart("note", "x"), FilePart("doc", Utf8(L"報告.bin"), std::string(3 << 20, 'z'))});
    FakeRequest request(body);
    request.cbPiece = 256 << 10;
    // The network's pace: each piece a little later than the writer's throttle.
    request.onPiece = [](std::size_t) { Sleep(120); };

    std::atomic<bool> bLoading{true};
    std::vector<Snapshot> seen;
    std::thread reader([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IProgress* pProgress = NewProgress();
        if (pProgress) {
            while (bLoading) {
                seen.push_back(ReadOf(pProgress, id.c_str()));
                Sleep(20);
            }
            pProgress->Release();
        }
        CoUninitialize();
    });
    const HRESULT hr = m_pUpload->LoadRequest(&request);
    bLoading = false;
    reader.join();
    ASSERT_EQ(S_OK, hr) << PublishedDescription();

    Snapshot last;
    last.bytesRead = last.percent = 0;
    last.filesDone = 0;
    int nReading = 0;
    double dblLastReading = -1;
    int nDistinct = 0;
    for (const Snapshot& snap : seen) {
        if (snap.state == L"unknown") {
            EXPECT_EQ(0, nReading) << "unknown only before the first piece";
            continue;
        }
        ASSERT_TRUE(snap.state == L"reading" || snap.state == L"done") << snap.state;
        EXPECT_GE(snap.bytesRead, last.bytesRead);
        EXPECT_GE(snap.percent, last.percent);
        EXPECT_GE(snap.filesDone, last.filesDone);
        EXPECT_EQ(static_cast<double>(body.size()), snap.totalBytes);
        EXPECT_LE(snap.bytesRead, snap.totalBytes);
        if (snap.state == L"reading") {
            ++nReading;
            if (snap.bytesRead != dblLastReading) ++nDistinct;
            dblLastReading = snap.bytesRead;
            if (snap.filesDone == 0 && !snap.file.empty()) {
                EXPECT_EQ(L"doc", snap.field);
                EXPECT_EQ(L"報告.bin", snap.file);
            }
        }
        last = snap;
    }
    EXPECT_GE(nDistinct, 5) << "the reader saw the load move, piece by piece";

    const Snapshot end = ReadOf(m_pProgress, id.c_str());
    EXPECT_EQ(L"done", end.state);
    EXPECT_EQ(static_cast<double>(body.size()), end.bytesRead);
    EXPECT_EQ(end.totalBytes, end.bytesRead);
    EXPECT_EQ(100, end.percent);
    EXPECT_EQ(0, end.remaining);
    EXPECT_EQ(1, end.filesDone);
    EXPECT_EQ(L"", end.message);
}

TEST_F(UploadProgressTest, EveryEndIsRecordedWithTheScriptsMessage) {
    const std::string body =
        Body({TextPart("field", std::string(2000, 'v')), FilePart("f", "a.bin", std::string(600000, 'b'))});
    const struct {
        const wchar_t* name;
        double maxBytes, maxFileBytes;
        std::size_t cbEndAfter;
        HRESULT hrRead;
        bool bLoad;            // Load of the bytes rather than LoadRequest
        const char* pszBody;   // null: the form above
        const wchar_t* state;
    } cases[] = {
        {L"maxfile", 0, 1000, SIZE_MAX, S_OK, false, nullptr, L"refused"},
        {L"early", 0, 0, 300000, S_OK, false, nullptr, L"refused"},
        {L"notform", 0, 0, SIZE_MAX, S_OK, false, "plain text, no form", L"refused"},
        {L"readfails", 0, 0, SIZE_MAX, E_ACCESSDENIED, false, nullptr, L"failed"},  // after the first piece
        {L"loadnotform", 0, 0, SIZE_MAX, S_OK, true, "plain text, no form", L"refused"},
        {L"loaddone", 0, 0, SIZE_MAX, S_OK, true, nullptr, L"done"},
    };
    for (const auto& c : cases) {
        const std::wstring id = Id(c.name);
        SCOPED_TRACE(std::string(id.begin(), id.end()));
        ASSERT_EQ(S_OK, m_pUpload->put_MaxBytes(c.maxBytes));
        ASSERT_EQ(S_OK, m_pUpload->put_MaxFileBytes(c.maxFileBytes));
        ASSERT_EQ(S_OK, PutId(id));
        const std::string sent = c.pszBody ? std::string(c.pszBody) : body;
        HRESULT hr;
        if (c.bLoad) {
            hr = Load(sent);
        } else {
            FakeRequest request(sent);
            request.cbEndAfter = c.cbEndAfter;
            // A failure once a piece is in: one before the first byte keeps nothing.
            const HRESULT hrRead = c.hrRead;
            if (FAILED(hrRead)) request.onPiece = [&request, hrRead](std::size_t) { request.hrRead = hrRead; };
            hr = m_pUpload->LoadRequest(&request);
        }
        const std::wstring published = SUCCEEDED(hr) ? L"" : PublishedDescription();
        const Snapshot end = ReadOf(m_pProgress, id.c_str());
        EXPECT_EQ(c.state, end.state);
        EXPECT_EQ(published, end.message) << "the page's Err.Description, word for word";
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(static_cast<double>(sent.size()), end.bytesRead);
        } else {
            EXPECT_NE(L"", end.message);
        }
        EXPECT_EQ(0, end.remaining) << "an ended load has nothing left";
    }
}

// Whether a section of the id's name exists, as any page of the account
// would find it.
bool SectionOf(const std::wstring& id) {
    std::wstring lower = id;
    CharLowerW(&lower[0]);
    const std::wstring name = L"Local\\VARO.Progress." + lower;
    HANDLE hSection = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    if (hSection) CloseHandle(hSection);
    return hSection != nullptr;
}

// A load the page's answer alone ends, before its body's first byte was
// read, costs nothing that lasts: its id reads unknown at once and no
// section of its name is left. A byte read is enough for the end to be
// kept.
TEST_F(UploadProgressTest, ALoadEndedBeforeItsBodysFirstByteLeavesNoRecord) {
    const std::string body = Body({FilePart("f", "a.bin", std::string(5000, 'b'))});
    enum class Way { kRequest, kNotRequest, kLoadBytes, kLoadNumber };
    const struct {
        const wchar_t* name;
        Way way;
        const char* pszBody;  // null: the form above
        double maxBytes;
        double totalBytes;    // what TotalBytes says, when not 0
        std::size_t cbEndAfter;
        HRESULT hrRead;
    } cases[] = {
        {L"overmax", Way::kRequest, nullptr, 1000, 0, SIZE_MAX, S_OK},
        {L"emptybody", Way::kRequest, "", 0, 0, SIZE_MAX, S_OK},
        {L"gonebeforebyte", Way::kRequest, nullptr, 0, 0, 0, S_OK},
        {L"firstreadfails", Way::kRequest, nullptr, 0, 0, SIZE_MAX, E_ACCESSDENIED},
        {L"badtotal", Way::kRequest, nullptr, 0, -1, SIZE_MAX, S_OK},
        {L"notrequest", Way::kNotRequest, nullptr, 0, 0, SIZE_MAX, S_OK},
        {L"loadempty", Way::kLoadBytes, "", 0, 0, SIZE_MAX, S_OK},
        {L"loadnumber", Way::kLoadNumber, nullptr, 0, 0, SIZE_MAX, S_OK},
    };
    for (const auto& c : cases) {
        const std::wstring id = Id(c.name);
        SCOPED_TRACE(std::string(id.begin(), id.end()));
        ASSERT_EQ(S_OK, m_pUpload->put_MaxBytes(c.maxBytes));
        ASSERT_EQ(S_OK, PutId(id));
        HRESULT hr = E_UNEXPECTED;
        FakeRequest request(c.pszBody ? std::string(c.pszBody) : body);
        request.cbEndAfter = c.cbEndAfter;
        request.hrRead = c.hrRead;
        if (c.totalBytes != 0) {
            request.total.vt = VT_R8;
            request.total.dblVal = c.totalBytes;
        }
        switch (c.way) {
        case Way::kRequest: hr = m_pUpload->LoadRequest(&request); break;
        case Way::kNotRequest: hr = m_pUpload->LoadRequest(nullptr); break;
        case Way::kLoadBytes: hr = Load(c.pszBody); break;
        case Way::kLoadNumber: {
            VARIANT number;
            VariantInit(&number);
            number.vt = VT_I4;
            number.lVal = 5;
            hr = m_pUpload->Load(&number);
            break;
        }
        }
        EXPECT_TRUE(FAILED(hr));
        EXPECT_NE(L"<nothing>", PublishedDescription()) << "the page has its answer";
        EXPECT_EQ(L"unknown", ReadOf(m_pProgress, id.c_str()).state);
        EXPECT_FALSE(SectionOf(id));
    }

    const std::wstring id = Id(L"goneafterbyte");
    ASSERT_EQ(S_OK, m_pUpload->put_MaxBytes(0));
    ASSERT_EQ(S_OK, PutId(id));
    FakeRequest request(body);
    request.cbEndAfter = 1;
    EXPECT_EQ(Refused::kEndedEarly, m_pUpload->LoadRequest(&request));
    const Snapshot end = ReadOf(m_pProgress, id.c_str());
    EXPECT_EQ(L"refused", end.state);
    EXPECT_EQ(1, end.bytesRead);
    EXPECT_TRUE(SectionOf(id)) << "kept";
}

TEST_F(UploadProgressTest, IdsOutsideTheRuleAreRefusedAndUnknownIdsReadUnknown) {
    ASSERT_EQ(S_OK, PutId(L"kept-1"));
    const std::wstring bad[] = {L"has space", L"dot.dot", L"..\\x", L"名前", std::wstring(65, L'a'),
                                std::wstring(L"nul\0x", 5)};
    for (const std::wstring& id : bad) {
        SCOPED_TRACE(id.size());
        EXPECT_EQ(E_INVALIDARG, PutId(id));
        EXPECT_EQ(L"ProgressID には 1 から 64 文字の英数字と - だけを指定してください。", PublishedDescription());
        EXPECT_EQ(L"kept-1", GetId()) << "a refused id leaves the one before";
    }
    // The longest id names a record like any other.
    const std::wstring longest = Id(L"") + std::wstring(64 - Id(L"").size(), L'Z');
    EXPECT_EQ(S_OK, PutId(longest));
    EXPECT_EQ(longest, GetId());
    EXPECT_EQ(S_OK, Load(kUtf8Form));
    EXPECT_EQ(L"done", ReadOf(m_pProgress, longest.c_str()).state);
    EXPECT_EQ(S_OK, PutId(L""));
    EXPECT_EQ(L"", GetId());
    // Without an id a load keeps nothing, and still loads.
    EXPECT_EQ(S_OK, Load(kUtf8Form));

    const wchar_t* unknown[] = {L"never-used-id", L"has space", L"", nullptr};
    for (const wchar_t* pszId : unknown) {
        SCOPED_TRACE(pszId ? pszId : L"<null>");
        const Snapshot snap = ReadOf(m_pProgress, pszId);
        EXPECT_EQ(L"unknown", snap.state);
        EXPECT_EQ(0, snap.bytesRead);
        EXPECT_EQ(0, snap.filesDone);
        EXPECT_EQ(L"", snap.message);
    }
}

}  // namespace

// Long runs of VARO.Upload as a busy server uses it: four apartments, each
// with its own Upload objects, loading the captured request bodies whole and
// through the page's Request object thousands of times, reading and saving
// their files and meeting every limit. Nothing may accumulate: after the
// first rounds the module heap, the process heap, the handle table and the
// temporary folders stay where they were, and every round answers as the
// first one did.
#include "fake_request.h"
#include "upload_client.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "heap_walk.h"
#include "soak_apartments.h"
#include "test_paths.h"
#include "test_scale.h"

namespace {
constexpr int kApartments = 4;
const int kRounds = ScaledCount("rounds of calls", 120, 25);


// Pieces of a Request's body: many reads, delimiters split between them.
constexpr std::size_t kcbPiece = 97;


// Bytes as comparable text, one unit each.
std::wstring ByteText(const std::string& bytes) {
    std::wstring text;
    for (unsigned char ch : bytes) text += static_cast<wchar_t>(ch);
    return text;
}

std::wstring Hr(HRESULT hr) {
    wchar_t sz[16];
    wsprintfW(sz, L"%08lX", static_cast<unsigned long>(hr));
    return sz;
}

// What a round answered, and what it answered wrongly: a fault that repeats
// in every round would not show as a change.
struct RoundLog {
    std::vector<std::wstring> answers;
    std::vector<std::wstring> faults;
    void Note(const std::wstring& answer) { answers.push_back(answer); }
    void Check(bool bHolds, const std::wstring& what) {
        if (!bHolds) faults.push_back(what);
    }
};

std::wstring Facts(const FileFacts& f) {
    return f.name + L"|" + f.fileName + L"|" + f.clientPath + L"|" + f.extension + L"|" + f.contentType + L"|" +
           std::to_wstring(f.size) + L"|" + ByteText(f.bytes);
}

// Everything a loaded form answers, as one text. Each call is a statement of
// its own: what it wrote is read only after it.
std::wstring Listing(IUpload* pUpload) {
    LONG lCount = -1;
    HRESULT hr = pUpload->get_Count(&lCount);
    std::wstring text = Hr(hr) + L" count " + std::to_wstring(lCount);
    VARIANT var;
    VariantInit(&var);
    hr = pUpload->get_Names(&var);
    const std::vector<std::wstring> names = Strings(var);
    VariantClear(&var);
    text += L" names " + Hr(hr);
    for (const std::wstring& name : names) {
        BSTR bstrName = SysAllocString(name.c_str());
        hr = pUpload->get_Item(bstrName, &var);
        text += L"\n" + name + L": " + Hr(hr) + L" " + Text(var);
        VariantClear(&var);
        hr = pUpload->Values(bstrName, &var);
        text += L" values " + Hr(hr);
        for (const std::wstring& value : Strings(var)) text += L" [" + value + L"]";
        VariantClear(&var);
        VARIANT_BOOL bExists = VARIANT_FALSE;
        hr = pUpload->Exists(bstrName, &bExists);
        text += L" exists " + Hr(hr) + (bExists ? L" yes" : L" no");
        SysFreeString(bstrName);
    }
    hr = pUpload->get_Files(&var);
    text += L"\nfiles " + Hr(hr);
    for (IUploadedFile* pFile : FilesOf(var)) {
        text += L"\n" + (pFile ? Facts(Describe(pFile)) : L"<not a file>");
        if (pFile) pFile->Release();
    }
    VariantClear(&var);
    return text;
}

IUpload* NewUpload(IClassFactory* pFactory, const std::wstring& tempFolder) {
    IUpload* pUpload = nullptr;
    if (FAILED(pFactory->CreateInstance(nullptr, IID_IUpload, reinterpret_cast<void**>(&pUpload)))) return nullptr;
    BSTR bstrFolder = SysAllocString(tempFolder.c_str());
    const HRESULT hr = pUpload->put_TempFolder(bstrFolder);
    SysFreeString(bstrFolder);
    if (FAILED(hr)) {
        pUpload->Release();
        return nullptr;
    }
    return pUpload;
}

HRESULT LoadBytes(IUpload* pUpload, const std::string& body) {
    ScriptVariable bytes;
    SetBytes(bytes.get(), body);
    return pUpload->Load(bytes.get());
}

// The file objects of a form, in order; each to be released.
std::vector<IUploadedFile*> FileObjects(IUpload* pUpload) {
    VARIANT files;
    VariantInit(&files);
    pUpload->get_Files(&files);
    std::vector<IUploadedFile*> objects = FilesOf(files);
    VariantClear(&files);
    return objects;
}

// SaveAs, SaveAs again over it (refused), SaveUnique: the saved bytes are
// the file's. The server-made name is kept as its shape only.
void SaveAndCheck(IUploadedFile* pFile, const std::wstring& dir, const std::wstring& name, RoundLog& log) {
    VARIANT var;
    VariantInit(&var);
    const HRESULT hrBytes = pFile->get_Bytes(&var);
    const std::string bytes = BytesOf(var);
    VariantClear(&var);
    log.Note(L"Bytes " + Hr(hrBytes) + L" " + ByteText(bytes));

    const std::wstring target = dir + name;
    BSTR bstrTarget = SysAllocString(target.c_str());
    HRESULT hr = pFile->SaveAs(bstrTarget, Missing());
    log.Note(L"SaveAs " + Hr(hr));
    log.Check(hr == S_OK && ReadFileBytesW(target) == bytes, L"SaveAs did not save the file's bytes: " + name);
    hr = pFile->SaveAs(bstrTarget, Missing());
    log.Note(L"SaveAs over it " + Hr(hr) + L" " + PublishedDescription());
    log.Check(hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) || hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
              L"SaveAs replaced a file: " + name);
    log.Check(ReadFileBytesW(target) == bytes, L"a refused SaveAs changed the file: " + name);
    SysFreeString(bstrTarget);
    // A moved file is read from where it went.
    hr = pFile->get_Bytes(&var);
    log.Check(hr == S_OK && BytesOf(var) == bytes, L"Bytes changed by SaveAs: " + name);
    VariantClear(&var);

    BSTR bstrFolder = SysAllocString(dir.c_str());
    BSTR bstrPath = nullptr;
    hr = pFile->SaveUnique(bstrFolder, &bstrPath);
    const std::wstring path = Text(bstrPath);
    SysFreeString(bstrPath);
    SysFreeString(bstrFolder);
    const bool bInDir = path.compare(0, dir.size(), dir) == 0;
    log.Note(L"SaveUnique " + Hr(hr) + L" " + std::to_wstring(path.size() - dir.size()) + L" " +
             path.substr(path.size() < 4 ? 0 : path.size() - 4));
    log.Check(hr == S_OK && bInDir && ReadFileBytesW(path) == bytes, L"SaveUnique did not save the bytes: " + name);
}

struct Apartment {
    std::vector<std::string> bodies;
    std::wstring saveDir;              // with its trailing separator
    std::wstring tempDir;              // the objects' TempFolder, with its trailing separator
    IClassFactory* pFactory = nullptr;
    IUpload* pLong = nullptr;  // kept for the whole run
    HRESULT hr = E_UNEXPECTED;
    std::vector<std::wstring> first;
    int nDifferentRounds = 0;
    std::wstring firstDifference;
    int nFaultyRounds = 0;
    std::wstring firstFault;
};

// A refusal of one body: the limits in force and how the body comes.
enum class Given { kBytes, kRequest, kText };
struct Refusal {
    const wchar_t* label;
    Given given;
    std::string body;
    LONG lMaxParts;
    double maxBytes, maxFileBytes, maxFieldBytes;
    std::size_t cbEndAfter;
};

void RunBody(const Apartment& a, IClassFactory* pFactory, IUpload* pLong, const std::string& body, int iBody,
             RoundLog& log) {
    const std::wstring tag = std::to_wstring(iBody);
    HRESULT hr = LoadBytes(pLong, body);
    log.Note(L"Load " + Hr(hr));
    log.Check(hr == S_OK, L"Load refused body " + tag);
    const std::wstring loaded = Listing(pLong);
    log.Note(loaded);

    // The same body through a Request, into a new object of its own.
    IUpload* pFresh = NewUpload(pFactory, a.tempDir);
    log.Check(pFresh != nullptr, L"no new Upload object");
    if (pFresh) {
        FakeRequest request(body);
        request.cbPiece = kcbPiece;
        hr = pFresh->LoadRequest(&request);
        log.Note(L"LoadRequest " + Hr(hr) + L" reads " + std::to_wstring(request.nReads) + L" spooled " +
                 std::to_wstring(FileNamesIn(a.tempDir).size()));
        log.Check(hr == S_OK, L"LoadRequest refused body " + tag);
        log.Check(RefCount(&request) == 1, L"LoadRequest kept a reference to the Request");
        log.Check(Listing(pFresh) == loaded, L"LoadRequest and Load answer differently for body " + tag);

        // The first file is moved out of the spool, then copied; the others
        // stay spooled until their form goes.
        std::vector<IUploadedFile*> files = FileObjects(pFresh);
        log.Check(!files.empty() && files[0], L"no file in body " + tag);
        if (!files.empty() && files[0]) SaveAndCheck(files[0], a.saveDir, L"request-" + tag + L".bin", log);
        for (IUploadedFile* pFile : files)
            if (pFile) pFile->Release();
        pFresh->Release();
        log.Check(FileNamesIn(a.tempDir).empty(), L"a released form left a temporary file, body " + tag);
    }

    // Whole-body files, reached by name.
    std::vector<IUploadedFile*> files = FileObjects(pLong);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!files[i]) continue;
        BSTR bstrName = nullptr;
        files[i]->get_Name(&bstrName);
        IDispatch* pDispatch = nullptr;
        hr = pLong->File(bstrName, &pDispatch);
        SysFreeString(bstrName);
        IUploadedFile* pByName = nullptr;
        if (pDispatch) pDispatch->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pByName));
        log.Note(L"File " + Hr(hr) + (pByName ? L" found" : L" none"));
        log.Check(pByName != nullptr, L"File did not find a file by its name, body " + tag);
        if (pByName) {
            SaveAndCheck(pByName, a.saveDir, L"whole-" + tag + L"-" + std::to_wstring(i) + L".bin", log);
            pByName->Release();
        }
        if (pDispatch) pDispatch->Release();
        files[i]->Release();
    }

    // Every refusal keeps the form loaded before it and leaves no temporary file.
    const Refusal refusals[] = {
        {L"MaxParts", Given::kBytes, body, 2, 0, 0, 0, SIZE_MAX},
        {L"MaxParts of a request", Given::kRequest, body, 2, 0, 0, 0, SIZE_MAX},
        {L"MaxBytes", Given::kRequest, body, 0, static_cast<double>(body.size() - 1), 0, 0, SIZE_MAX},
        {L"MaxFileBytes", Given::kRequest, body, 0, 0, 10, 0, SIZE_MAX},
        {L"MaxFieldBytes", Given::kRequest, body, 0, 0, 0, 3, SIZE_MAX},
        {L"the client goes away", Given::kRequest, body, 0, 0, 0, 0, body.size() / 2},
        {L"cut short", Given::kBytes, body.substr(0, body.size() / 2), 0, 0, 0, 0, SIZE_MAX},
        {L"not a form", Given::kBytes, "plain text", 0, 0, 0, 0, SIZE_MAX},
        {L"not a form from a request", Given::kRequest, "plain text", 0, 0, 0, 0, SIZE_MAX},
        {L"not bytes", Given::kText, "", 0, 0, 0, 0, SIZE_MAX},
    };
    for (const Refusal& r : refusals) {
        const HRESULT hrLimits[] = {pLong->put_MaxParts(r.lMaxParts), pLong->put_MaxBytes(r.maxBytes),
                                    pLong->put_MaxFileBytes(r.maxFileBytes), pLong->put_MaxFieldBytes(r.maxFieldBytes)};
        for (HRESULT hrLimit : hrLimits) log.Check(hrLimit == S_OK, L"a limit was refused: " + std::wstring(r.label));
        if (r.given == Given::kRequest) {
            FakeRequest request(r.body);
            request.cbPiece = kcbPiece;
            request.cbEndAfter = r.cbEndAfter;
            hr = pLong->LoadRequest(&request);
            log.Check(RefCount(&request) == 1, L"a refused LoadRequest kept a reference to the Request");
        } else if (r.given == Given::kBytes) {
            hr = LoadBytes(pLong, r.body);
        } else {
            ScriptVariable text;
            SetString(text.get(), L"not bytes");
            hr = pLong->Load(text.get());
        }
        log.Note(std::wstring(r.label) + L" " + Hr(hr) + L" " + PublishedDescription());
        log.Check(FAILED(hr), L"not refused: " + std::wstring(r.label) + L", body " + tag);
        log.Check(FileNamesIn(a.tempDir).empty(), L"a refusal left a temporary file: " + std::wstring(r.label));
        log.Check(Listing(pLong) == loaded, L"a refusal changed the loaded form: " + std::wstring(r.label));
    }
    for (HRESULT hrLimit : {pLong->put_MaxParts(0), pLong->put_MaxBytes(0), pLong->put_MaxFileBytes(0),
                            pLong->put_MaxFieldBytes(0)})
        log.Check(hrLimit == S_OK, L"a limit could not be lifted");
}

RoundLog RunRound(const Apartment& a, IClassFactory* pFactory, IUpload* pLong) {
    RoundLog log;
    for (std::size_t i = 0; i < a.bodies.size(); ++i)
        RunBody(a, pFactory, pLong, a.bodies[i], static_cast<int>(i), log);
    // What the round saved goes, so every round starts from an empty folder.
    const std::vector<std::wstring> saved = FileNamesIn(a.saveDir);
    for (const std::wstring& name : saved) log.Check(DeleteFileW((a.saveDir + name).c_str()) != FALSE, L"kept " + name);
    log.Note(L"saved " + std::to_wstring(saved.size()));
    const std::size_t cTemporary = FileNamesIn(a.tempDir).size();
    log.Note(L"temporary files " + std::to_wstring(cTemporary));
    log.Check(cTemporary == 0, L"temporary files left after the round");
    return log;
}

// First difference between two rounds' answers, for the report.
std::wstring Difference(const std::vector<std::wstring>& first, const std::vector<std::wstring>& now) {
    for (std::size_t i = 0; i < first.size() && i < now.size(); ++i)
        if (first[i] != now[i]) return L"answer " + std::to_wstring(i) + L": " + first[i] + L" -> " + now[i];
    return L"answers " + std::to_wstring(first.size()) + L" -> " + std::to_wstring(now.size());
}

void Record(Apartment& a, const RoundLog& log) {
    if (!log.faults.empty() && a.nFaultyRounds++ == 0) a.firstFault = log.faults[0];
    if (log.answers != a.first && a.nDifferentRounds++ == 0) a.firstDifference = Difference(a.first, log.answers);
}

// One apartment's part in the soak: its objects, two rounds before the count
// (the system allocates a few things once, on a second use), the rest after.
SoakApartment Work(Apartment& a, const VaroDll& dll) {
    return SoakApartment{
        [&a, &dll] {
            a.hr = dll.GetClassObject(CLSID_Upload, IID_IClassFactory, reinterpret_cast<void**>(&a.pFactory));
            if (SUCCEEDED(a.hr)) {
                a.pLong = NewUpload(a.pFactory, a.tempDir);
                if (!a.pLong) a.hr = E_FAIL;
            }
            if (a.pLong) {
                RoundLog log = RunRound(a, a.pFactory, a.pLong);
                a.first = log.answers;
                Record(a, log);
                Record(a, RunRound(a, a.pFactory, a.pLong));
            }
        },
        [&a] {
            for (int i = 2; a.pLong && i < kRounds; ++i) Record(a, RunRound(a, a.pFactory, a.pLong));
        },
        [&a] {
            if (a.pLong) a.pLong->Release();
            if (a.pFactory) a.pFactory->Release();
        }};
}

using UploadSoakTest = SoakFixture;

TEST_F(UploadSoakTest, FourApartmentsLoadingSavingAndRefusingThousandsOfTimes) {
    DisableStringCache();
    VaroDll dll;
    ASSERT_TRUE(dll.Load());
    const std::vector<std::string> bodies = CapturedBodies();
    for (const std::string& body : bodies) ASSERT_FALSE(body.empty());

    wchar_t szTemp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, szTemp));
    const std::wstring base = std::wstring(szTemp) + L"varo-upload-soak-" + std::to_wstring(GetCurrentProcessId());
    std::vector<Apartment> apartments(kApartments);
    std::vector<SoakApartment> work;
    for (int i = 0; i < kApartments; ++i) {
        Apartment& a = apartments[i];
        a.bodies = bodies;
        a.saveDir = base + L"-" + std::to_wstring(i);
        a.tempDir = a.saveDir + L"-temp";
        ASSERT_TRUE(CreateDirectoryW(a.saveDir.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(a.tempDir.c_str(), nullptr));
        a.saveDir += L"\\";
        a.tempDir += L"\\";
        work.push_back(Work(a, dll));
    }
    const SoakCounts counts = RunSoakApartments(dll, work);
    ASSERT_TRUE(counts.bCompleted) << "the apartments did not finish in time";
    ExpectNothingAccumulated(counts);
    EXPECT_LT(0, counts.before.lProbedHandles) << "the probe finds the process's own handles";
    for (const Apartment& a : apartments) {
        EXPECT_EQ(S_OK, a.hr);
        EXPECT_FALSE(a.first.empty());
        EXPECT_EQ(0, a.nFaultyRounds) << "faults in " << a.nFaultyRounds << " rounds, first: " << a.firstFault;
        EXPECT_EQ(0, a.nDifferentRounds) << "answers changed in " << a.nDifferentRounds
                                         << " rounds, first: " << a.firstDifference;
        EXPECT_TRUE(apartments[0].first == a.first) << Difference(apartments[0].first, a.first);
        EXPECT_EQ(std::vector<std::wstring>{}, FileNamesIn(a.tempDir)) << "temporary files outlived their objects";
        for (const std::wstring& name : FileNamesIn(a.saveDir)) DeleteFileW((a.saveDir + name).c_str());
        for (const std::wstring& name : FileNamesIn(a.tempDir)) DeleteFileW((a.tempDir + name).c_str());
        RemoveDirectoryW(a.saveDir.c_str());
        RemoveDirectoryW(a.tempDir.c_str());
    }
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}
}  // namespace

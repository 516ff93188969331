// Long runs of VARO.DLL as a busy server uses it: four apartments, each with
// its own object, calling the form and file methods over the captured request
// bodies tens of thousands of times; and thousands of load, create, release
// and unload cycles. Nothing may accumulate: after the first rounds the
// module heap, the process heap and the handle table stay where they were,
// and every call answers as it did the first time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dll_client.h"
#include "heap_walk.h"
#include "soak_apartments.h"
#include "test_paths.h"
#include "test_scale.h"

namespace {
constexpr int kApartments = 4;
const int kRounds = ScaledCount("rounds of calls", 250, 40);
const int kLoadCycles = ScaledCount("load cycles", 2000, 300);



// ASCII paths and names only: a plain widening.
std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The UTF-16 units of a text, as a comparable string.
std::string Units(const std::wstring& s) {
    std::string units;
    for (wchar_t ch : s) units += std::to_string(static_cast<unsigned>(ch)) + ",";
    return units;
}

// One round of calls over every body; what each call answered, as text.
std::vector<std::string> RunRound(IWebMng* pWebMng, const std::vector<std::string>& bodies, const std::string& dir) {
    std::vector<std::string> answers;
    auto note = [&](HRESULT hr, LONG lResult, const std::string& what) {
        answers.push_back(std::to_string(hr) + " " + std::to_string(lResult) + " " + what);
    };
    BSTR bstrTitle = SysAllocString(L"title");
    BSTR bstrUpload = SysAllocString(L"upload");
    BSTR bstrSaved = SysAllocString(Widen(dir + "saved.bin").c_str());
    BSTR bstrFolder = SysAllocString(Widen(dir).c_str());
    BSTR bstrPattern = SysAllocString(L"*.bin");
    BSTR bstrMissing = SysAllocString(Widen(dir + "missing\\x.bin").c_str());
    for (const std::string& bytes : bodies) {
        VARIANT body;
        VariantInit(&body);
        SetBytes(&body, bytes);

        BSTR bstrValue = nullptr;
        HRESULT hr = pWebMng->Form(&body, bstrTitle, &bstrValue);
        note(hr, 0, bstrValue ? Units(std::wstring(bstrValue, SysStringLen(bstrValue))) : "<null>");
        SysFreeString(bstrValue);

        VARIANT value;
        VariantInit(&value);
        hr = pWebMng->FormBinary(&body, bstrUpload, &value);
        note(hr, 0, value.vt == (VT_ARRAY | VT_UI1) && value.parray ? BytesOf(value) : "<none>");
        VariantClear(&value);

        VARIANT path, name, size;
        VariantInit(&path);
        VariantInit(&name);
        VariantInit(&size);
        LONG lResult = 7;
        hr = pWebMng->GetFileInfo(&body, bstrUpload, &path, &name, &size, &lResult);
        note(hr, lResult, std::to_string(size.lVal));
        VariantClear(&path);
        VariantClear(&name);

        hr = pWebMng->WriteForm(&body, bstrSaved, bstrUpload, &lResult);
        note(hr, lResult, "written");
        VARIANT read;
        VariantInit(&read);
        hr = pWebMng->ReadBinary(bstrSaved, &read, &lResult);
        note(hr, lResult, read.vt == (VT_ARRAY | VT_UI1) ? BytesOf(read) : "<none>");
        VariantClear(&read);
        hr = pWebMng->WriteBinary(&body, bstrSaved, &lResult);
        note(hr, lResult, "replaced");
        hr = pWebMng->DeleteFileEx(bstrFolder, bstrPattern, &lResult);
        note(hr, lResult, "deleted");

        // Failures publish error information on every call.
        hr = pWebMng->ReadBinary(bstrMissing, &read, &lResult);
        note(hr, lResult, "missing");
        hr = pWebMng->DeleteFile(bstrMissing, &lResult);
        note(hr, lResult, "not deleted");
        VARIANT text;
        VariantInit(&text);
        text.vt = VT_BSTR;
        text.bstrVal = bstrTitle;
        hr = pWebMng->Form(&text, bstrTitle, &bstrValue);
        note(hr, 0, "not an array");

        BSTR bstrGuid = nullptr;
        hr = pWebMng->CreateGUID(&bstrGuid);
        note(hr, 0, std::to_string(SysStringLen(bstrGuid)));
        SysFreeString(bstrGuid);
        VariantClear(&body);
    }
    for (BSTR bstr : {bstrTitle, bstrUpload, bstrSaved, bstrFolder, bstrPattern, bstrMissing}) SysFreeString(bstr);
    return answers;
}

struct Apartment {
    std::string dir;
    HRESULT hr = E_UNEXPECTED;
    IWebMng* pWebMng = nullptr;
    std::vector<std::string> first;
    int nDifferentRounds = 0;
};

using SoakTest = SoakFixture;

TEST_F(SoakTest, FourApartmentsCallingTensOfThousandsOfTimes) {
    DisableStringCache();
    VaroDll dll;
    ASSERT_TRUE(dll.Load());
    const std::vector<std::string> bodies = CapturedBodies();
    for (const std::string& body : bodies) ASSERT_FALSE(body.empty());

    char szTemp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, szTemp));
    std::vector<Apartment> apartments(kApartments);
    std::vector<SoakApartment> work;
    for (int i = 0; i < kApartments; ++i) {
        Apartment& a = apartments[i];
        a.dir = std::string(szTemp) + "varo-soak-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
        CreateDirectoryA(a.dir.c_str(), nullptr);
        a.dir += "\\";
        work.push_back(SoakApartment{
            [&a, &dll, &bodies] {
                IClassFactory* pFactory = nullptr;
                a.hr = dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
                if (SUCCEEDED(a.hr)) {
                    a.hr = pFactory->CreateInstance(nullptr, IID_IWebMng, reinterpret_cast<void**>(&a.pWebMng));
                    pFactory->Release();
                }
                // Two rounds before the count: the system allocates a few
                // things once, on a second use (seen under Wine: one
                // process-heap block).
                if (a.pWebMng) a.first = RunRound(a.pWebMng, bodies, a.dir);
                if (a.pWebMng && RunRound(a.pWebMng, bodies, a.dir) != a.first) ++a.nDifferentRounds;
            },
            [&a, &bodies] {
                for (int i = 2; a.pWebMng && i < kRounds; ++i)
                    if (RunRound(a.pWebMng, bodies, a.dir) != a.first) ++a.nDifferentRounds;
            },
            [&a] {
                if (a.pWebMng) a.pWebMng->Release();
            }});
    }
    const SoakCounts counts = RunSoakApartments(dll, work);
    ASSERT_TRUE(counts.bCompleted) << "the apartments did not finish in time";
    ExpectNothingAccumulated(counts);
    for (const Apartment& a : apartments) {
        EXPECT_EQ(S_OK, a.hr);
        EXPECT_EQ(11u * bodies.size(), a.first.size());
        EXPECT_EQ(0, a.nDifferentRounds) << "answers changed in " << a.nDifferentRounds << " rounds";
        EXPECT_EQ(apartments[0].first, a.first);
        RemoveDirectoryA(a.dir.c_str());
    }
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}

TEST_F(SoakTest, ThousandsOfLoadCreateReleaseUnloadCycles) {
    const long lProcessBlocks = HeapBusyBlocks(GetProcessHeap());
    int nFailures = 0;
    for (int i = 0; i < kLoadCycles && nFailures < 5; ++i) {
        VaroDll dll;
        IClassFactory* pFactory = nullptr;
        IWebMng* pWebMng = nullptr;
        BSTR bstrGuid = nullptr;
        const bool bOk = dll.Load() &&
                         SUCCEEDED(dll.GetClassObject(CLSID_WebMng, IID_IClassFactory,
                                                      reinterpret_cast<void**>(&pFactory))) &&
                         SUCCEEDED(pFactory->CreateInstance(nullptr, IID_IWebMng, reinterpret_cast<void**>(&pWebMng))) &&
                         SUCCEEDED(pWebMng->CreateGUID(&bstrGuid)) && SysStringLen(bstrGuid) == 36;
        SysFreeString(bstrGuid);
        if (pWebMng) pWebMng->Release();
        if (pFactory) pFactory->Release();
        const HRESULT hrUnload = dll.IsLoaded() ? dll.CanUnloadNow() : E_FAIL;
        if (!bOk || hrUnload != S_OK) {
            ++nFailures;
            ADD_FAILURE() << "cycle " << i << ": " << (bOk ? "DllCanUnloadNow refused" : "a call failed");
        }
    }
    // Loading a module leaves loader bookkeeping behind on some systems; a
    // few blocks, never one per cycle.
    EXPECT_LT(HeapBusyBlocks(GetProcessHeap()) - lProcessBlocks, kLoadCycles / 10);
}
}  // namespace

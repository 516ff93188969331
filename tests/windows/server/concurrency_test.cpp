// Threads, each in its own apartment, whose first calls into a freshly loaded
// VARO.DLL arrive at the same moment: one class object, the type library
// loaded once, and nothing left locked when all is released.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dll_client.h"

namespace {
constexpr int kThreads = 6;
constexpr int kRounds = 100;

struct Round {
    const VaroDll* pDll = nullptr;
    HANDLE hStart = nullptr;
    LONG lReady = 0;
};

struct ClientResult {
    int nIndex = 0;
    Round* pRound = nullptr;
    HRESULT hrClassObject = E_UNEXPECTED, hrCreate = E_UNEXPECTED, hrFirstCall = E_UNEXPECTED,
            hrForm = E_UNEXPECTED, hrTypeInfo = E_UNEXPECTED;
    void* pClassObject = nullptr;  // compared only, not held
    void* pTypeInfo = nullptr;
    std::wstring value;
};

// The thread's first dispatch call: each kind of call can be the one that
// loads the type information.
HRESULT FirstDispatchCall(IDispatch* pDispatch, int nKind) {
    switch (nKind % 3) {
    case 0: {
        LPOLESTR name = const_cast<LPOLESTR>(L"Form");
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = pDispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        return SUCCEEDED(hr) && id != 1 ? E_UNEXPECTED : hr;
    }
    case 1: {
        ScriptVariable body;
        SetBytes(body.get(), Body({TextPart("n", "v")}));
        ScriptCall call;
        call.Var(body).Literal(L"n");
        HRESULT hr = call.RunId(pDispatch, 1);
        return SUCCEEDED(hr) && StringOf(call.result) != L"v" ? E_UNEXPECTED : hr;
    }
    default: {
        ITypeInfo* pTypeInfo = nullptr;
        HRESULT hr = pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo);
        if (pTypeInfo) pTypeInfo->Release();
        return hr;
    }
    }
}

DWORD WINAPI ClientThread(void* pv) {
    ClientResult& result = *static_cast<ClientResult*>(pv);
    ComApartment apartment(COINIT_APARTMENTTHREADED);
    if (FAILED(apartment.status())) return 1;
    InterlockedIncrement(&result.pRound->lReady);
    WaitForSingleObject(result.pRound->hStart, INFINITE);

    IClassFactory* pFactory = nullptr;
    result.hrClassObject =
        result.pRound->pDll->GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (!pFactory) return 1;
    result.pClassObject = pFactory;
    IDispatch* pDispatch = nullptr;
    result.hrCreate = pFactory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&pDispatch));
    pFactory->Release();
    if (!pDispatch) return 1;
    result.hrFirstCall = FirstDispatchCall(pDispatch, result.nIndex);

    ScriptVariable body;
    SetBytes(body.get(), Body({TextPart("comment", "thread " + std::to_string(result.nIndex))}));
    ScriptCall call;
    call.Var(body).Literal(L"comment");
    result.hrForm = call.Run(pDispatch, L"Form");
    result.value = StringOf(call.result);

    ITypeInfo* pTypeInfo = nullptr;
    result.hrTypeInfo = pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo);
    result.pTypeInfo = pTypeInfo;
    if (pTypeInfo) pTypeInfo->Release();
    pDispatch->Release();
    return 0;
}

class ConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_apartment.status());
        ASSERT_EQ(S_OK, m_registered.status());
    }

    ComApartment m_apartment;
    RegisteredServer m_registered;
};

TEST_F(ConcurrencyTest, FirstCallsFromManyApartmentsAtOnce) {
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        SCOPED_TRACE(testing::Message() << "round " << nRound);
        ASSERT_EQ(nullptr, GetModuleHandleA(VaroDllPath().c_str())) << "the round must start with nothing loaded";
        VaroDll dll;
        ASSERT_TRUE(dll.Load());

        Round round;
        round.pDll = &dll;
        round.hStart = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::vector<ClientResult> results(kThreads);
        std::vector<HANDLE> threads;
        for (int i = 0; i < kThreads; ++i) {
            results[i].nIndex = i;
            results[i].pRound = &round;
            threads.push_back(CreateThread(nullptr, 0, ClientThread, &results[i], 0, nullptr));
            ASSERT_NE(nullptr, threads.back());
        }
        while (InterlockedCompareExchange(&round.lReady, 0, 0) < kThreads) Sleep(0);
        SetEvent(round.hStart);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kThreads, threads.data(), TRUE, 60000));
        for (HANDLE hThread : threads) CloseHandle(hThread);
        CloseHandle(round.hStart);

        for (const ClientResult& r : results) {
            SCOPED_TRACE(testing::Message() << "thread " << r.nIndex);
            EXPECT_EQ(S_OK, r.hrClassObject);
            EXPECT_EQ(S_OK, r.hrCreate);
            EXPECT_EQ(S_OK, r.hrFirstCall);
            EXPECT_EQ(S_OK, r.hrForm);
            EXPECT_EQ(L"thread " + std::to_wstring(r.nIndex), r.value);
            EXPECT_EQ(S_OK, r.hrTypeInfo);
            EXPECT_EQ(results[0].pClassObject, r.pClassObject) << "one class object";
            EXPECT_EQ(results[0].pTypeInfo, r.pTypeInfo) << "one type information";
        }
        EXPECT_EQ(S_OK, dll.CanUnloadNow()) << "lock count back to 0";

        // The module holds exactly one reference to the type information and
        // gives it back at detach: a second load would have left one behind.
        IClassFactory* pFactory = nullptr;
        ASSERT_EQ(S_OK, dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
        IDispatch* pDispatch = nullptr;
        ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
        pFactory->Release();
        ITypeInfo* pTypeInfo = nullptr;
        ASSERT_EQ(S_OK, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo));
        pDispatch->Release();
        ASSERT_EQ(S_OK, dll.CanUnloadNow());
        dll.Unload();
        EXPECT_EQ(1u, RefCount(pTypeInfo));
        pTypeInfo->Release();
    }
}
}  // namespace

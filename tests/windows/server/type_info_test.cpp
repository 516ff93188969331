// IWebMng's IDispatch operations through VARO.DLL: the type information comes
// from the registered type library, loaded on first need; until the library
// is registered every operation that needs it fails with the load's status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dll_client.h"

namespace {
class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_apartment.status());
        UnregisterVaroTypeLib();  // whatever an earlier program left
        ASSERT_TRUE(m_dll.Load()) << VaroDllPath();
    }
    void TearDown() override {
        m_dll.Unload();
        UnregisterVaroTypeLib();
    }

    // A new standalone object as a script holds it.
    IDispatch* NewObject() {
        IClassFactory* pFactory = nullptr;
        EXPECT_EQ(S_OK, m_dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
        if (!pFactory) return nullptr;
        IDispatch* pDispatch = nullptr;
        EXPECT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
        pFactory->Release();
        return pDispatch;
    }

    ComApartment m_apartment;
    VaroDll m_dll;
};

HRESULT IdsOf(IDispatch* pDispatch, std::vector<std::wstring> names, std::vector<DISPID>& ids) {
    std::vector<LPOLESTR> pointers;
    for (std::wstring& name : names) pointers.push_back(&name[0]);
    ids.assign(names.size(), 12345);
    return pDispatch->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()),
                                    LOCALE_USER_DEFAULT, ids.data());
}

// Form(body, "comment") as a script calls it.
HRESULT CallForm(IDispatch* pDispatch, std::wstring* pValue) {
    ScriptVariable body;
    SetBytes(body.get(), Body({TextPart("comment", "hello")}));
    ScriptCall call;
    call.Var(body).Literal(L"comment");
    HRESULT hr = call.Run(pDispatch, L"Form");
    *pValue = StringOf(call.result);
    return hr;
}

TEST_F(DispatchTest, UnregisteredLibraryFailsWithTheLoadErrorUntilRegistered) {
    const HRESULT hrLoad = LoadRegVaroTypeLibStatus();
    ASSERT_TRUE(FAILED(hrLoad));
    IDispatch* pDispatch = NewObject();
    ASSERT_NE(nullptr, pDispatch);

    UINT cTypeInfo = 0;
    EXPECT_EQ(S_OK, pDispatch->GetTypeInfoCount(&cTypeInfo)) << "needs no type information";
    EXPECT_EQ(1u, cTypeInfo);
    ITypeInfo* pTypeInfo = reinterpret_cast<ITypeInfo*>(static_cast<UINT_PTR>(0xDEADBEEF));
    EXPECT_EQ(hrLoad, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo));
    EXPECT_EQ(nullptr, pTypeInfo);
    std::vector<DISPID> ids;
    EXPECT_EQ(hrLoad, IdsOf(pDispatch, {L"Form"}, ids));
    EXPECT_EQ(12345, ids[0]);
    EXPECT_EQ(hrLoad, IdsOf(pDispatch, {}, ids));
    ScriptCall call;
    EXPECT_EQ(hrLoad, call.RunId(pDispatch, 5));
    EXPECT_EQ(VT_EMPTY, call.result.vt);

    // Failed loads keep nothing, not even one more clean-up entry per call.
    const long lBlocks = m_dll.BusyBlocks();
    for (int i = 0; i < 200; ++i) {
        ScriptCall again;
        ASSERT_EQ(hrLoad, again.RunId(pDispatch, 1));
    }
    EXPECT_EQ(lBlocks, m_dll.BusyBlocks());

    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    ASSERT_EQ(S_OK, LoadRegVaroTypeLibStatus());
    EXPECT_EQ(S_OK, IdsOf(pDispatch, {L"Form"}, ids));
    EXPECT_EQ(1, ids[0]);
    std::wstring value;
    EXPECT_EQ(S_OK, CallForm(pDispatch, &value));
    EXPECT_EQ(L"hello", value);
    ASSERT_EQ(S_OK, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo));
    ASSERT_NE(nullptr, pTypeInfo);
    pTypeInfo->Release();
    EXPECT_EQ(0u, pDispatch->Release());
}

TEST_F(DispatchTest, GetTypeInfoGivesIWebMngForAnyIndex) {
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    IDispatch* pDispatch = NewObject();
    ASSERT_NE(nullptr, pDispatch);
    EXPECT_EQ(E_POINTER, pDispatch->GetTypeInfoCount(nullptr));
    EXPECT_EQ(E_POINTER, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr));

    ITypeInfo* pFirst = nullptr;
    ASSERT_EQ(S_OK, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pFirst));
    ASSERT_NE(nullptr, pFirst);
    const ULONG ulCount = RefCount(pFirst);
    ITypeInfo* pFifth = nullptr;
    ASSERT_EQ(S_OK, pDispatch->GetTypeInfo(5, LOCALE_USER_DEFAULT, &pFifth));
    EXPECT_EQ(pFirst, pFifth);
    EXPECT_EQ(ulCount + 1, RefCount(pFirst));
    pFifth->Release();

    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(S_OK, pFirst->GetTypeAttr(&pAttr));
    EXPECT_TRUE(IsEqualGUID(IID_IWebMng, pAttr->guid));
    pFirst->ReleaseTypeAttr(pAttr);
    pFirst->Release();
    pDispatch->Release();
}

struct NamesCase {
    std::vector<std::wstring> names;
    HRESULT hrExpected;
    std::vector<DISPID> idsExpected;  // checked on success
};

TEST_F(DispatchTest, GetIDsOfNamesFromTheTableAndTheTypeInformation) {
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    IDispatch* pDispatch = NewObject();
    ASSERT_NE(nullptr, pDispatch);
    const NamesCase cases[] = {
        {{L"Form"}, S_OK, {1}},
        {{L"GetFileInfo"}, S_OK, {2}},
        {{L"ReadBinary"}, S_OK, {3}},
        {{L"WriteForm"}, S_OK, {4}},
        {{L"CreateGUID"}, S_OK, {5}},
        {{L"WriteBinary"}, S_OK, {6}},
        {{L"FormBinary"}, S_OK, {7}},
        {{L"DeleteFile"}, S_OK, {8}},
        {{L"DeleteFileEx"}, S_OK, {9}},
        // Other letter case misses the table; the type information ignores case.
        {{L"form"}, S_OK, {1}},
        {{L"DELETEFILEEX"}, S_OK, {9}},
        {{L"createGuid"}, S_OK, {5}},
        // Parameter names follow the member name.
        {{L"Form", L"bstrItemName"}, S_OK, {1, 1}},
        {{L"GetFileInfo", L"pvarFileSize", L"pvarBinaryArray"}, S_OK, {2, 4, 0}},
        {{L"deletefileex", L"bstrFilename", L"bstrPath"}, S_OK, {9, 1, 0}},
        {{L"NoSuchMethod"}, DISP_E_UNKNOWNNAME, {}},
        {{L""}, DISP_E_UNKNOWNNAME, {}},
        {{L"Form", L"noSuchParameter"}, DISP_E_UNKNOWNNAME, {}},
        {{L"FormX"}, DISP_E_UNKNOWNNAME, {}},
        {{L"For"}, DISP_E_UNKNOWNNAME, {}},
    };
    for (const NamesCase& c : cases) {
        std::wstring joined;
        for (const std::wstring& name : c.names) joined += name + L" ";
        SCOPED_TRACE(testing::Message() << std::string(joined.begin(), joined.end()));
        std::vector<DISPID> ids;
        EXPECT_EQ(c.hrExpected, IdsOf(pDispatch, c.names, ids));
        if (c.hrExpected == S_OK) EXPECT_EQ(c.idsExpected, ids);
    }

    // A count of 0 asks for nothing and writes nothing.
    DISPID id = 12345;
    LPOLESTR name = const_cast<LPOLESTR>(L"Form");
    EXPECT_EQ(S_OK, pDispatch->GetIDsOfNames(IID_NULL, &name, 0, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(12345, id);
    EXPECT_EQ(E_POINTER, pDispatch->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(E_POINTER, pDispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, nullptr));
    pDispatch->Release();
}

// Once loaded, the type information is kept: the registration is no longer
// consulted. A request for no names loads it too.
TEST_F(DispatchTest, LoadedTypeInformationIsKept) {
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    IDispatch* pDispatch = NewObject();
    ASSERT_NE(nullptr, pDispatch);
    DISPID id = 12345;
    EXPECT_EQ(S_OK, pDispatch->GetIDsOfNames(IID_NULL, nullptr, 0, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(12345, id);
    UnregisterVaroTypeLib();
    ASSERT_TRUE(FAILED(LoadRegVaroTypeLibStatus()));
    ITypeInfo* pTypeInfo = nullptr;
    EXPECT_EQ(S_OK, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo));
    if (pTypeInfo) pTypeInfo->Release();
    std::wstring value;
    EXPECT_EQ(S_OK, CallForm(pDispatch, &value));
    EXPECT_EQ(L"hello", value);
    pDispatch->Release();
}

TEST_F(DispatchTest, InvokePassesTheTypeInformationsStatusThrough) {
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    IDispatch* pDispatch = NewObject();
    ASSERT_NE(nullptr, pDispatch);
    ScriptVariable body;
    SetBytes(body.get(), Body({TextPart("comment", "x")}));
    {
        ScriptCall call;
        call.Var(body).Literal(L"comment");
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, call.RunId(pDispatch, 10));
    }
    {
        ScriptCall call;
        call.Var(body);
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, call.RunId(pDispatch, 1));
    }
    {
        // The interface identifier is not examined.
        ScriptCall call;
        call.Var(body).Literal(L"comment");
        EXPECT_EQ(S_OK, call.RunId(pDispatch, 1, IID_IWebMng));
        EXPECT_EQ(L"x", StringOf(call.result));
    }
    EXPECT_EQ(E_POINTER, pDispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr, nullptr,
                                           nullptr, nullptr));
    pDispatch->Release();
}

TEST_F(DispatchTest, AggregatedObjectDispatchesThroughItsIWebMng) {
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    class Outer : public IUnknown {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            return pInner->QueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++lRef; }
        STDMETHODIMP_(ULONG) Release() override { return --lRef; }
        ULONG lRef = 1;
        IUnknown* pInner = nullptr;
    } outer;
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    ASSERT_EQ(S_OK, pFactory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.pInner)));
    pFactory->Release();
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
    std::wstring value;
    EXPECT_EQ(S_OK, CallForm(pDispatch, &value));
    EXPECT_EQ(L"hello", value);
    pDispatch->Release();
    EXPECT_EQ(1u, outer.lRef);
    EXPECT_EQ(0u, outer.pInner->Release());
}

// Detach gives back the cached type information: one reference, once.
TEST_F(DispatchTest, UnloadReleasesTheTypeInformation) {
    ASSERT_EQ(S_OK, RegisterVaroTypeLib());
    IDispatch* pDispatch = NewObject();
    ASSERT_NE(nullptr, pDispatch);
    ITypeInfo* pTypeInfo = nullptr;
    ASSERT_EQ(S_OK, pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pTypeInfo));
    pDispatch->Release();
    const ULONG ulWhileLoaded = RefCount(pTypeInfo);
    ASSERT_EQ(S_OK, m_dll.CanUnloadNow());
    m_dll.Unload();
    EXPECT_EQ(nullptr, GetModuleHandleA(VaroDllPath().c_str()));
    EXPECT_EQ(ulWhileLoaded - 1, RefCount(pTypeInfo));
    pTypeInfo->Release();
}
}  // namespace

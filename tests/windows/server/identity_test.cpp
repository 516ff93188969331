// The class object and WebMng's identity, through VARO.DLL's exports: what
// a client gets, the reference counts, and the module lock count that tells
// the host when it may unload the library.
#include <gtest/gtest.h>

#include <ocidl.h>

#include "dll_client.h"

namespace {
// {7A2B0C51-1D3E-4F60-8A71-92B3C4D5E6F7}: not a class the module serves.
const CLSID kUnknownClsid = {0x7a2b0c51, 0x1d3e, 0x4f60, {0x8a, 0x71, 0x92, 0xb3, 0xc4, 0xd5, 0xe6, 0xf7}};
void* const kGarbage = reinterpret_cast<void*>(static_cast<UINT_PTR>(0xDEADBEEF));

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_apartment.status());
        ASSERT_TRUE(m_dll.Load()) << VaroDllPath();
    }
    void TearDown() override {
        if (m_dll.IsLoaded()) EXPECT_EQ(S_OK, m_dll.CanUnloadNow()) << "something is still held";
    }

    IClassFactory* Factory() {
        IClassFactory* pFactory = nullptr;
        EXPECT_EQ(S_OK, m_dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
        return pFactory;
    }

    ComApartment m_apartment;
    VaroDll m_dll;
};

struct GetClassObjectCase {
    const char* what;
    const CLSID* pClsid;
    const IID* pIid;
    HRESULT hrExpected;
};

TEST_F(ServerTest, GetClassObjectAnswers) {
    const GetClassObjectCase cases[] = {
        {"unknown class", &kUnknownClsid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"null class", &GUID_NULL, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"an interface id as class", &IID_IWebMng, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"WebMng, IClassFactory", &CLSID_WebMng, &IID_IClassFactory, S_OK},
        {"WebMng, IUnknown", &CLSID_WebMng, &IID_IUnknown, S_OK},
        {"WebMng, IDispatch", &CLSID_WebMng, &IID_IDispatch, E_NOINTERFACE},
        {"WebMng, IWebMng", &CLSID_WebMng, &IID_IWebMng, E_NOINTERFACE},
        {"WebMng, IClassFactory2", &CLSID_WebMng, &IID_IClassFactory2, E_NOINTERFACE},
    };
    for (const GetClassObjectCase& c : cases) {
        SCOPED_TRACE(c.what);
        void* pv = kGarbage;
        EXPECT_EQ(c.hrExpected, m_dll.GetClassObject(*c.pClsid, *c.pIid, &pv));
        if (c.hrExpected == S_OK) {
            ASSERT_NE(nullptr, pv);
            ASSERT_NE(kGarbage, pv);
            EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
            static_cast<IUnknown*>(pv)->Release();
        } else {
            EXPECT_EQ(nullptr, pv);
        }
        EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    }
    EXPECT_EQ(E_POINTER, m_dll.GetClassObject(CLSID_WebMng, IID_IClassFactory, nullptr));
    EXPECT_EQ(E_POINTER, m_dll.GetClassObject(kUnknownClsid, IID_IClassFactory, nullptr));
}

// The class table's reference keeps the class object alive without locking
// the module; a client's reference locks it.
TEST_F(ServerTest, ClassObjectAndModuleCountsStepByStep) {
    IClassFactory* pFactory = Factory();
    ASSERT_NE(nullptr, pFactory);
    IClassFactory* pCached = pFactory;  // borrowed: the table keeps it alive
    auto expectCounts = [&](const char* step, ULONG classObjectCount, long moduleLocks) {
        SCOPED_TRACE(step);
        EXPECT_EQ(classObjectCount, RefCount(pCached));
        EXPECT_EQ(moduleLocks, ModuleLockCount(m_dll, pCached));
        EXPECT_EQ(moduleLocks == 0 ? S_OK : S_FALSE, m_dll.CanUnloadNow());
    };
    expectCounts("first request", 2, 1);

    IUnknown* pSecond = nullptr;
    ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_WebMng, IID_IUnknown, reinterpret_cast<void**>(&pSecond)));
    EXPECT_EQ(static_cast<IUnknown*>(pFactory), pSecond) << "one class object per process";
    expectCounts("second client reference", 3, 1);

    void* pv = kGarbage;
    EXPECT_EQ(E_NOINTERFACE, m_dll.GetClassObject(CLSID_WebMng, IID_IDispatch, &pv));
    EXPECT_EQ(nullptr, pv);
    expectCounts("refused interface", 3, 1);

    EXPECT_EQ(2u, pSecond->Release());
    expectCounts("second reference released", 2, 1);
    EXPECT_EQ(1u, pFactory->Release());
    expectCounts("last client reference released", 1, 0);

    IClassFactory* pAgain = Factory();
    EXPECT_EQ(pCached, pAgain) << "the cached class object is handed out again";
    expectCounts("requested again", 2, 1);

    EXPECT_EQ(S_OK, pAgain->LockServer(TRUE));
    expectCounts("LockServer(TRUE)", 2, 2);
    IWebMng* pObject = nullptr;
    ASSERT_EQ(S_OK, pAgain->CreateInstance(nullptr, IID_IWebMng, reinterpret_cast<void**>(&pObject)));
    expectCounts("live instance", 2, 3);
    pAgain->Release();
    expectCounts("client reference released", 1, 2);
    EXPECT_EQ(0u, pObject->Release());
    expectCounts("instance released", 1, 1);
    EXPECT_EQ(S_OK, pCached->LockServer(FALSE));
    expectCounts("LockServer(FALSE)", 1, 0);

    // Nothing pairs LockServer calls: an unmatched unlock leaves the count
    // below zero, which is not a state the module may unload in.
    EXPECT_EQ(S_OK, pCached->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    EXPECT_EQ(S_OK, pCached->LockServer(TRUE));
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

// An outer object that exposes WebMng's IWebMng and IDispatch, and its
// ISupportErrorInfo only when asked to.
class TestOuter : public IUnknown {
public:
    explicit TestOuter(bool bExposeErrorInfo) : m_bExposeErrorInfo(bExposeErrorInfo) {}
    ~TestOuter() { ReleaseInner(); }

    HRESULT Aggregate(IClassFactory* pFactory) {
        return pFactory->CreateInstance(this, IID_IUnknown, reinterpret_cast<void**>(&m_pInner));
    }
    ULONG ReleaseInner() {
        ULONG ul = m_pInner ? m_pInner->Release() : 0;
        m_pInner = nullptr;
        return ul;
    }
    IUnknown* Inner() const { return m_pInner; }
    LONG Count() const { return m_lRef; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        bool bInner = IsEqualIID(riid, IID_IWebMng) || IsEqualIID(riid, IID_IDispatch) ||
                      (m_bExposeErrorInfo && IsEqualIID(riid, IID_ISupportErrorInfo));
        return bInner && m_pInner ? m_pInner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_lRef); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_lRef); }

private:
    bool m_bExposeErrorInfo;
    LONG m_lRef = 1;
    IUnknown* m_pInner = nullptr;
};

struct CreateCase {
    bool bOuter;
    const IID* pIid;
    const char* what;
    HRESULT hrExpected;
};

TEST_F(ServerTest, CreateInstanceWithAndWithoutOuterObject) {
    IClassFactory* pFactory = Factory();
    ASSERT_NE(nullptr, pFactory);
    const long lBaseLocks = ModuleLockCount(m_dll, pFactory);
    const long lBaseBlocks = m_dll.BusyBlocks();
    const CreateCase cases[] = {
        {false, &IID_IUnknown, "IUnknown", S_OK},
        {false, &IID_IWebMng, "IWebMng", S_OK},
        {false, &IID_IDispatch, "IDispatch", S_OK},
        {false, &IID_ISupportErrorInfo, "ISupportErrorInfo", S_OK},
        {false, &IID_IClassFactory, "IClassFactory", E_NOINTERFACE},
        {false, &IID_IPersist, "IPersist", E_NOINTERFACE},
        {true, &IID_IUnknown, "IUnknown", S_OK},
        {true, &IID_IWebMng, "IWebMng", CLASS_E_NOAGGREGATION},
        {true, &IID_IDispatch, "IDispatch", CLASS_E_NOAGGREGATION},
        {true, &IID_ISupportErrorInfo, "ISupportErrorInfo", CLASS_E_NOAGGREGATION},
        {true, &IID_IPersist, "IPersist", CLASS_E_NOAGGREGATION},
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bOuter ? "with outer, " : "standalone, ") << c.what);
        TestOuter outer(false);
        void* pv = kGarbage;
        EXPECT_EQ(c.hrExpected, pFactory->CreateInstance(c.bOuter ? &outer : nullptr, *c.pIid, &pv));
        EXPECT_EQ(1, outer.Count()) << "the outer object is not counted";
        if (c.hrExpected != S_OK) {
            EXPECT_EQ(nullptr, pv);
            EXPECT_EQ(lBaseLocks, ModuleLockCount(m_dll, pFactory));
            continue;
        }
        ASSERT_NE(nullptr, pv);
        ASSERT_NE(kGarbage, pv);
        IUnknown* pObject = static_cast<IUnknown*>(pv);
        EXPECT_EQ(1u, RefCount(pObject));
        EXPECT_EQ(lBaseLocks + 1, ModuleLockCount(m_dll, pFactory));
        EXPECT_EQ(0u, pObject->Release());
        EXPECT_EQ(lBaseLocks, ModuleLockCount(m_dll, pFactory));
    }
    TestOuter outer(false);
    EXPECT_EQ(E_POINTER, pFactory->CreateInstance(nullptr, IID_IWebMng, nullptr));
    EXPECT_EQ(E_POINTER, pFactory->CreateInstance(&outer, IID_IUnknown, nullptr));
    EXPECT_EQ(lBaseLocks, ModuleLockCount(m_dll, pFactory));
    EXPECT_EQ(lBaseBlocks, m_dll.BusyBlocks()) << "every object's memory went back to the module heap";
    pFactory->Release();
}

TEST_F(ServerTest, StandaloneObjectHasOneIdentity) {
    IClassFactory* pFactory = Factory();
    ASSERT_NE(nullptr, pFactory);
    IUnknown* pUnknown = nullptr;
    ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&pUnknown)));
    pFactory->Release();

    const IID* const iids[] = {&IID_IUnknown, &IID_IWebMng, &IID_IDispatch, &IID_ISupportErrorInfo};
    IUnknown* interfaces[4] = {};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(S_OK, pUnknown->QueryInterface(*iids[i], reinterpret_cast<void**>(&interfaces[i])));
    IUnknown* pIdentity = interfaces[0];
    EXPECT_EQ(pIdentity, pUnknown);
    EXPECT_EQ(pIdentity, interfaces[1]) << "IWebMng is the identity";
    EXPECT_EQ(pIdentity, interfaces[2]) << "IDispatch is IWebMng";
    EXPECT_NE(pIdentity, interfaces[3]) << "ISupportErrorInfo is an interface of its own";

    // From every interface, every request gives the same answer.
    for (IUnknown* pFrom : interfaces) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            IUnknown* p = nullptr;
            ASSERT_EQ(S_OK, pFrom->QueryInterface(*iids[i], reinterpret_cast<void**>(&p)));
            EXPECT_EQ(i == 3 ? interfaces[3] : pIdentity, p);
            p->Release();
        }
        void* pv = kGarbage;
        EXPECT_EQ(E_NOINTERFACE, pFrom->QueryInterface(IID_IClassFactory, &pv));
        EXPECT_EQ(nullptr, pv);
        EXPECT_EQ(E_POINTER, pFrom->QueryInterface(IID_IUnknown, nullptr));
        EXPECT_EQ(E_POINTER, pFrom->QueryInterface(IID_IWebMng, nullptr));
    }
    // One count behind every interface: 1 from CreateInstance, 4 from above.
    EXPECT_EQ(5u, RefCount(interfaces[3]));
    for (IUnknown* p : interfaces) p->Release();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    EXPECT_EQ(0u, pUnknown->Release());
}

struct ErrorInfoCase {
    const IID* pIid;
    HRESULT hrExpected;
};

void ExpectErrorInfoAnswers(ISupportErrorInfo* pSupport) {
    const ErrorInfoCase cases[] = {
        {&IID_IWebMng, S_OK},          {&IID_IDispatch, S_FALSE},    {&IID_IUnknown, S_FALSE},
        {&IID_ISupportErrorInfo, S_FALSE}, {&IID_IClassFactory, S_FALSE}, {&GUID_NULL, S_FALSE},
    };
    for (const ErrorInfoCase& c : cases) EXPECT_EQ(c.hrExpected, pSupport->InterfaceSupportsErrorInfo(*c.pIid));
}

TEST_F(ServerTest, SupportsErrorInfoOnIWebMngOnly) {
    IClassFactory* pFactory = Factory();
    ASSERT_NE(nullptr, pFactory);
    ISupportErrorInfo* pSupport = nullptr;
    ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
    {
        SCOPED_TRACE("standalone");
        ExpectErrorInfoAnswers(pSupport);
    }
    pSupport->Release();

    TestOuter outer(true);
    ASSERT_EQ(S_OK, outer.Aggregate(pFactory));
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
    {
        SCOPED_TRACE("aggregated");
        ExpectErrorInfoAnswers(pSupport);
    }
    pSupport->Release();
    EXPECT_EQ(0u, outer.ReleaseInner());
    pFactory->Release();
}

TEST_F(ServerTest, AggregatedObjectDelegatesToItsOuterObject) {
    IClassFactory* pFactory = Factory();
    ASSERT_NE(nullptr, pFactory);
    const long lBaseLocks = ModuleLockCount(m_dll, pFactory);
    const long lBaseBlocks = m_dll.BusyBlocks();
    TestOuter outer(false);
    ASSERT_EQ(S_OK, outer.Aggregate(pFactory));
    IUnknown* pInner = outer.Inner();
    EXPECT_EQ(1u, RefCount(pInner)) << "the non-delegating unknown starts at 1";
    EXPECT_EQ(1, outer.Count());
    EXPECT_EQ(lBaseLocks + 1, ModuleLockCount(m_dll, pFactory));

    // The non-delegating unknown answers IUnknown with itself.
    IUnknown* pSelf = nullptr;
    ASSERT_EQ(S_OK, pInner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pSelf)));
    EXPECT_EQ(pInner, pSelf);
    EXPECT_EQ(1u, pSelf->Release());
    EXPECT_EQ(E_POINTER, pInner->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, pInner->QueryInterface(IID_IWebMng, nullptr));

    // The contained interfaces count on the outer object.
    IWebMng* pWebMng = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IWebMng, reinterpret_cast<void**>(&pWebMng)));
    EXPECT_NE(static_cast<void*>(pInner), static_cast<void*>(pWebMng));
    EXPECT_EQ(2, outer.Count());
    EXPECT_EQ(1u, RefCount(pInner));
    EXPECT_EQ(3u, pWebMng->AddRef());
    EXPECT_EQ(2u, pWebMng->Release());

    IUnknown* pIdentity = nullptr;
    ASSERT_EQ(S_OK, pWebMng->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), pIdentity) << "identity is the outer object's";
    pIdentity->Release();
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, pWebMng->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
    EXPECT_EQ(static_cast<IDispatch*>(pWebMng), pDispatch);
    UINT cTypeInfo = 0;
    EXPECT_EQ(S_OK, pDispatch->GetTypeInfoCount(&cTypeInfo));
    EXPECT_EQ(1u, cTypeInfo);
    pDispatch->Release();

    // What the outer object refuses, the part answers from its own table,
    // counted on the outer object; what neither has is refused.
    void* pv = kGarbage;
    EXPECT_EQ(E_NOINTERFACE, outer.QueryInterface(IID_ISupportErrorInfo, &pv));
    ISupportErrorInfo* pPartSupport = nullptr;
    ASSERT_EQ(S_OK, pWebMng->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pPartSupport)));
    EXPECT_EQ(3, outer.Count());
    EXPECT_EQ(S_OK, pPartSupport->InterfaceSupportsErrorInfo(IID_IWebMng));
    pPartSupport->Release();
    pv = kGarbage;
    EXPECT_EQ(E_NOINTERFACE, pWebMng->QueryInterface(IID_IPersist, &pv));
    EXPECT_EQ(nullptr, pv);
    // The non-delegating unknown still gives the outer object every part.
    ISupportErrorInfo* pSupport = nullptr;
    ASSERT_EQ(S_OK, pInner->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
    EXPECT_NE(static_cast<void*>(pWebMng), static_cast<void*>(pSupport));
    ASSERT_EQ(S_OK, pSupport->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), pIdentity);
    pIdentity->Release();
    pSupport->Release();
    EXPECT_EQ(2, outer.Count());

    pWebMng->Release();
    EXPECT_EQ(1, outer.Count());
    EXPECT_EQ(0u, outer.ReleaseInner());
    EXPECT_EQ(lBaseLocks, ModuleLockCount(m_dll, pFactory));
    EXPECT_EQ(lBaseBlocks, m_dll.BusyBlocks());
    pFactory->Release();
}

TEST_F(ServerTest, AggregatedObjectWithErrorInfoExposed) {
    IClassFactory* pFactory = Factory();
    ASSERT_NE(nullptr, pFactory);
    TestOuter outer(true);
    ASSERT_EQ(S_OK, outer.Aggregate(pFactory));
    pFactory->Release();
    IWebMng* pWebMng = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IWebMng, reinterpret_cast<void**>(&pWebMng)));
    ISupportErrorInfo* pSupport = nullptr;
    ASSERT_EQ(S_OK, pWebMng->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
    IWebMng* pBack = nullptr;
    ASSERT_EQ(S_OK, pSupport->QueryInterface(IID_IWebMng, reinterpret_cast<void**>(&pBack)));
    EXPECT_EQ(pWebMng, pBack);
    EXPECT_EQ(4, outer.Count());
    pBack->Release();
    pSupport->Release();
    pWebMng->Release();
    EXPECT_EQ(1, outer.Count());
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    EXPECT_EQ(0u, outer.ReleaseInner());
}

}  // namespace

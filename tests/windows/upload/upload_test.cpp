// VARO.Upload through the vtable of the built DLL: every field and file of a
// form, read in the page's code page, its limits and its errors.
#include "upload_client.h"

namespace {

TEST_F(UploadTest, EveryFieldAndFileOfAUtf8Page) {
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(65001));
    ASSERT_EQ(S_OK, Load(kUtf8Form));
    EXPECT_EQ(6, Count());
    EXPECT_EQ((std::vector<std::wstring>{L"名前", L"choice", L"docs", L"empty"}), Names());
    EXPECT_EQ(L"テスト", Item(L"名前"));
    EXPECT_EQ(L"one", Item(L"Choice"));
    EXPECT_EQ((std::vector<std::wstring>{L"one", L"two,three"}), Values(L"choice"));
    EXPECT_EQ(std::vector<std::wstring>{}, Values(L"missing"));
    EXPECT_EQ(L"<empty>", Item(L"missing"));
    EXPECT_EQ(L"<empty>", Item(L"docs")) << "a file field has no text value";

    std::vector<FileFacts> files = Files();
    ASSERT_EQ(2u, files.size()) << "an untouched file input is not a file";
    EXPECT_EQ(L"docs", files[0].name);
    EXPECT_EQ(L"報告.TXT", files[0].fileName);
    EXPECT_EQ(L"C:\\書類", files[0].clientPath);
    EXPECT_EQ(L"txt", files[0].extension);
    EXPECT_EQ(L"text/plain", files[0].contentType);
    EXPECT_EQ(5.0, files[0].size);
    EXPECT_EQ("first", files[0].bytes);
    EXPECT_EQ(L"page.asp", files[1].fileName);
    EXPECT_EQ(L"", files[1].clientPath);
    EXPECT_EQ(L"asp", files[1].extension);
    EXPECT_EQ("<% x %>", files[1].bytes);

    BSTR bstrName = SysAllocString(L"DOCS");
    IDispatch* pFirst = nullptr;
    EXPECT_EQ(S_OK, m_pUpload->File(bstrName, &pFirst));
    ASSERT_NE(nullptr, pFirst);
    IUploadedFile* pFile = nullptr;
    ASSERT_EQ(S_OK, pFirst->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pFile)));
    EXPECT_EQ("first", Describe(pFile).bytes);
    pFile->Release();
    pFirst->Release();
    SysFreeString(bstrName);
    bstrName = SysAllocString(L"empty");
    IDispatch* pNone = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(S_OK, m_pUpload->File(bstrName, &pNone));
    EXPECT_EQ(nullptr, pNone);
    SysFreeString(bstrName);
}

// The code page applies to every later read, whenever it is set.
TEST_F(UploadTest, CodePageAppliesToLaterReads) {
    ASSERT_EQ(S_OK, Load(kUtf8Form));
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(65001));
    EXPECT_EQ(L"テスト", Item(L"名前"));
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(932));
    EXPECT_EQ(L"<empty>", Item(L"名前")) << "read as Shift_JIS the name is another";

    // A Shift_JIS page, read with 932.
    ASSERT_EQ(S_OK, Load(Body({TextPart("\x96\xBC\x91\x4F", "\x93\x63\x92\x86")})));  // 名前 = 田中
    EXPECT_EQ(L"田中", Item(L"名前"));
}

TEST_F(UploadTest, RefusalsKeepTheEarlierForm) {
    ASSERT_EQ(S_OK, Load(Body({TextPart("kept", "yes")})));
    struct Case {
        const char* label;
        std::string body;
        HRESULT hr;
    };
    const std::string kPart = TextPart("a", "1");
    const Case cases[] = {
        {"no delimiter line", "plain text", Refused::kNotForm},
        {"no closing line", kPart, Refused::kNotForm},
        {"LF-only lines", "--b\nContent-Disposition: form-data; name=\"a\"\n\n1\n--b--\n", Refused::kNotForm},
        {"headers without their blank line",
         "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n--b--\r\n", Refused::kNotForm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.hr, Load(c.body));
        EXPECT_NE(L"<nothing>", Published());
        EXPECT_EQ(L"yes", Item(L"kept"));
    }
    ScriptVariable text;
    SetString(text.get(), L"not bytes");
    EXPECT_EQ(E_INVALIDARG, m_pUpload->Load(text.get()));
    EXPECT_NE(std::wstring::npos, Published().find(L"配列型ではありません。"));

    ASSERT_EQ(S_OK, m_pUpload->put_MaxParts(2));
    EXPECT_EQ(Refused::kTooManyParts, Load(Body({kPart, kPart, kPart})));
    EXPECT_NE(std::wstring::npos, Published().find(L"MaxParts (2)"));
    EXPECT_EQ(L"yes", Item(L"kept"));
    EXPECT_EQ(S_OK, Load(Body({kPart, kPart})));
    EXPECT_EQ(E_INVALIDARG, m_pUpload->put_MaxParts(-1));

    EXPECT_EQ(E_INVALIDARG, m_pUpload->put_CodePage(12345));
    EXPECT_NE(std::wstring::npos, Published().find(L"12345"));
    LONG lCodePage = -1;
    EXPECT_EQ(S_OK, m_pUpload->get_CodePage(&lCodePage));
    EXPECT_EQ(0, lCodePage);
}

// Null names and paths are refused with their messages, nothing else touched.
TEST_F(UploadTest, NullNamesAndPathsAreRefused) {
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(65001));
    ASSERT_EQ(S_OK, Load(kUtf8Form));
    VARIANT value;
    VariantInit(&value);
    VARIANT_BOOL bExists = VARIANT_TRUE;
    IDispatch* pFile = reinterpret_cast<IDispatch*>(0x1);
    const struct {
        const char* label;
        HRESULT hr;
    } calls[] = {
        {"Item", m_pUpload->get_Item(nullptr, &value)},
        {"Values", m_pUpload->Values(nullptr, &value)},
        {"Exists", m_pUpload->Exists(nullptr, &bExists)},
        {"File", m_pUpload->File(nullptr, &pFile)},
    };
    for (const auto& call : calls) EXPECT_EQ(E_INVALIDARG, call.hr) << call.label;
    EXPECT_EQ(L"アイテム名がNULLです。", Published());
    EXPECT_EQ(VT_EMPTY, value.vt);
    EXPECT_EQ(VARIANT_FALSE, bExists);
    EXPECT_EQ(nullptr, pFile);

    BSTR bstrName = SysAllocString(L"docs");
    ASSERT_EQ(S_OK, m_pUpload->File(bstrName, &pFile));
    SysFreeString(bstrName);
    IUploadedFile* pUploaded = nullptr;
    ASSERT_EQ(S_OK, pFile->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pUploaded)));
    EXPECT_EQ(E_INVALIDARG, pUploaded->SaveAs(nullptr, Missing()));
    EXPECT_EQ(L"ファイル名がNULLです。", Published());
    BSTR bstrPath = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(E_INVALIDARG, pUploaded->SaveUnique(nullptr, &bstrPath));
    EXPECT_EQ(L"パス名がNULLです。", Published());
    EXPECT_EQ(nullptr, bstrPath);
    pUploaded->Release();
    pFile->Release();
}

TEST_F(UploadTest, SavingNeverOverwritesAndLeavesNothingHalfWritten) {
    ASSERT_EQ(S_OK, m_pUpload->put_CodePage(65001));
    ASSERT_EQ(S_OK, Load(kUtf8Form));
    VARIANT files;
    VariantInit(&files);
    ASSERT_EQ(S_OK, m_pUpload->get_Files(&files));
    std::vector<IUploadedFile*> objects = FilesOf(files);
    VariantClear(&files);
    ASSERT_EQ(2u, objects.size());

    const std::wstring dir(m_dir.begin(), m_dir.end());
    BSTR bstrTarget = SysAllocString((dir + L"\\saved.txt").c_str());
    EXPECT_EQ(S_OK, objects[0]->SaveAs(bstrTarget, Missing()));
    EXPECT_EQ("first", ReadFileBytesW(dir + L"\\saved.txt"));
    // An existing file is never replaced: the system's reason comes with the message.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), objects[1]->SaveAs(bstrTarget, Missing()));
    const std::wstring message = Published();
    EXPECT_EQ(0u, message.find(L"ファイルを保存できませんでした。 (")) << "message first";
    EXPECT_NE(std::wstring::npos, message.find(L"コード 80)")) << "the system's code: " << message.size();
    EXPECT_EQ("first", ReadFileBytesW(dir + L"\\saved.txt"));
    SysFreeString(bstrTarget);

    bstrTarget = SysAllocString((dir + L"\\partial.txt").c_str());
    {
        ImportPatch diskFull(m_dll.Module(), "kernel32.dll", "WriteFile",
                             reinterpret_cast<const void*>(&WriteFileDiskFull));
        ASSERT_TRUE(diskFull.Applied());
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), objects[0]->SaveAs(bstrTarget, Missing()));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir + L"\\partial.txt").c_str()));
    SysFreeString(bstrTarget);

    // Server-made names keep only harmless extensions.
    BSTR bstrFolder = SysAllocString(dir.c_str());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        BSTR bstrPath = nullptr;
        ASSERT_EQ(S_OK, objects[i]->SaveUnique(bstrFolder, &bstrPath));
        const std::wstring path = Text(bstrPath);
        SysFreeString(bstrPath);
        EXPECT_EQ(dir + L"\\", path.substr(0, dir.size() + 1));
        EXPECT_EQ(dir.size() + 1 + 36 + 4, path.size());
        EXPECT_EQ(i == 0 ? L".txt" : L".bin", path.substr(path.size() - 4));
        EXPECT_EQ(i == 0 ? "first" : "<% x %>", ReadFileBytesW(path));
    }
    SysFreeString(bstrFolder);
    for (IUploadedFile* pFile : objects) pFile->Release();
}

// A file object keeps its form: it answers after the Upload object is gone.
TEST_F(UploadTest, FilesOutliveTheirUploadObject) {
    ASSERT_EQ(S_OK, Load(kUtf8Form));
    BSTR bstrName = SysAllocString(L"docs");
    IDispatch* pFile = nullptr;
    ASSERT_EQ(S_OK, m_pUpload->File(bstrName, &pFile));
    SysFreeString(bstrName);
    m_pUpload->Release();
    m_pUpload = nullptr;
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    IUploadedFile* pUploaded = nullptr;
    ASSERT_EQ(S_OK, pFile->QueryInterface(IID_IUploadedFile, reinterpret_cast<void**>(&pUploaded)));
    EXPECT_EQ("first", Describe(pUploaded).bytes);
    pUploaded->Release();
    pFile->Release();
}

// Upload is made like every object of the module: it answers IUnknown, its
// dual interface, IDispatch and ISupportErrorInfo; any other interface, or an
// outer object, gets nothing, and a refused creation leaves no module lock
// and no memory behind.
TEST_F(UploadTest, CreationRefusedLeavesNothingBehind) {
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_Upload, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    const long lBaseLocks = ModuleLockCount(m_dll, pFactory);
    const long lBaseBlocks = m_dll.BusyBlocks();
    struct CreateCase {
        const char* what;
        const IID* pIid;
        bool bOuter;
        HRESULT hrExpected;
    };
    const CreateCase cases[] = {
        {"IUnknown", &IID_IUnknown, false, S_OK},
        {"IUpload", &IID_IUpload, false, S_OK},
        {"IDispatch", &IID_IDispatch, false, S_OK},
        {"ISupportErrorInfo", &IID_ISupportErrorInfo, false, S_OK},
        {"IUploadedFile", &IID_IUploadedFile, false, E_NOINTERFACE},
        {"IWebMng", &IID_IWebMng, false, E_NOINTERFACE},
        {"IPersist", &IID_IPersist, false, E_NOINTERFACE},
        {"an outer object", &IID_IUnknown, true, CLASS_E_NOAGGREGATION},
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(c.what);
        void* pv = reinterpret_cast<void*>(1);
        // Any object stands for the outer one: it is refused before it is used.
        EXPECT_EQ(c.hrExpected, pFactory->CreateInstance(c.bOuter ? m_pUpload : nullptr, *c.pIid, &pv));
        if (FAILED(c.hrExpected)) {
            EXPECT_EQ(nullptr, pv);
        } else {
            ASSERT_NE(nullptr, pv);
            IUnknown* pObject = static_cast<IUnknown*>(pv);
            EXPECT_EQ(lBaseLocks + 1, ModuleLockCount(m_dll, pFactory)) << "the object holds the module";
            IUnknown* pIdentity = nullptr;
            ASSERT_EQ(S_OK, pObject->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)));
            IUpload* pUpload = nullptr;
            ASSERT_EQ(S_OK, pObject->QueryInterface(IID_IUpload, reinterpret_cast<void**>(&pUpload)));
            IUnknown* pUploadIdentity = nullptr;
            ASSERT_EQ(S_OK, pUpload->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUploadIdentity)));
            EXPECT_EQ(pIdentity, pUploadIdentity) << "one identity, whichever interface creation gave";
            pUploadIdentity->Release();
            pUpload->Release();
            pIdentity->Release();
            EXPECT_EQ(0u, pObject->Release()) << "the caller's reference was the only one";
        }
        EXPECT_EQ(lBaseLocks, ModuleLockCount(m_dll, pFactory));
        EXPECT_EQ(lBaseBlocks, m_dll.BusyBlocks()) << "the object's memory went back to the module heap";
    }
    pFactory->Release();
}

// Upload and the file objects it hands out say that their own interface, and
// no other, publishes error information.
TEST_F(UploadTest, EachObjectNamesItsOwnInterfaceForErrorInfo) {
    ASSERT_EQ(S_OK, Load(kUtf8Form));
    VARIANT files;
    VariantInit(&files);
    ASSERT_EQ(S_OK, m_pUpload->get_Files(&files));
    const std::vector<IUploadedFile*> held = FilesOf(files);
    VariantClear(&files);
    ASSERT_FALSE(held.empty());
    IUploadedFile* const pFile = held[0];
    ASSERT_NE(nullptr, pFile);
    struct ObjectCase {
        const char* what;
        IUnknown* pObject;
        const IID* pOwnIid;
        const IID* pOtherIid;
    };
    const ObjectCase objects[] = {
        {"Upload", m_pUpload, &IID_IUpload, &IID_IUploadedFile},
        {"UploadedFile", pFile, &IID_IUploadedFile, &IID_IUpload},
    };
    for (const ObjectCase& o : objects) {
        SCOPED_TRACE(o.what);
        ISupportErrorInfo* pSupport = nullptr;
        ASSERT_EQ(S_OK, o.pObject->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
        EXPECT_EQ(S_OK, pSupport->InterfaceSupportsErrorInfo(*o.pOwnIid));
        EXPECT_EQ(S_FALSE, pSupport->InterfaceSupportsErrorInfo(*o.pOtherIid));
        EXPECT_EQ(S_FALSE, pSupport->InterfaceSupportsErrorInfo(IID_IDispatch));
        EXPECT_EQ(S_FALSE, pSupport->InterfaceSupportsErrorInfo(IID_IWebMng));
        pSupport->Release();
    }
    for (IUploadedFile* p : held)
        if (p) p->Release();
}
}  // namespace

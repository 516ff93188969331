// Form and FormBinary over request bodies, with their statuses and messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webmng_test_support.h"

namespace {
class FormValues : public ::testing::Test {
protected:
    void SetUp() override {
        ClearError();
        m_lHeapBlocks = ModuleHeapBusyBlocks();
    }
    void TearDown() override { EXPECT_EQ(m_lHeapBlocks, ModuleHeapBusyBlocks()) << "module heap block left behind"; }

    TestWebMng m_webmng;
    long m_lHeapBlocks = 0;
};

const char kNull[] = "<null>";
const char kNoArray[] = "<no array>";

struct FormCase {
    const char* label;
    std::string body;
    std::wstring item;
    std::string formText;            // the Form string as bytes of its UTF-16 units' low halves, or kNull
    const wchar_t* formMessage;      // nullptr: nothing published
    std::string binary;              // the FormBinary bytes, or kNoArray
    const wchar_t* binaryMessage;
};

std::string Narrow(BSTR bstr) {
    if (!bstr) return kNull;
    std::string s;
    for (UINT i = 0; i < SysStringLen(bstr); ++i) s += static_cast<char>(bstr[i]);
    return s;
}

std::string Repeated(const std::string& name, const std::string& value, int n) {
    std::vector<std::string> parts(n, TextPart(name, value));
    return Body(parts);
}

std::string JoinedCopies(const std::string& value, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + value;
    return s;
}

TEST_F(FormValues, ValuesOfRequestBodies) {
    const std::string png("\x89PNG\r\n\x1A\n\0\x01\x02", 11);
    const FormCase cases[] = {
        {"three values, one empty", Body({TextPart("f", "a"), TextPart("f", ""), TextPart("f", "c")}), L"f", "a,,c",
         nullptr, "a,,c", nullptr},
        {"one empty value", Body({TextPart("f", "")}), L"f", "", nullptr, "", nullptr},
        {"absent field", Body({TextPart("other", "x")}), L"f", kNull, nullptr, kNoArray, nullptr},
        {"names compare without case", Body({TextPart("Comment", "hi"), TextPart("COMMENT", "there")}), L"comment",
         "hi,there", nullptr, "hi,there", nullptr},
        {"multi-line value keeps its line breaks", Body({TextPart("t", "l1\r\nl2\r\n")}), L"t", "l1\r\nl2\r\n", nullptr,
         "l1\r\nl2\r\n", nullptr},
        {"file field", Body({TextPart("t", "x"), FilePart("up", "C:\\a\\b.png", png)}), L"up", kNull,
         JaMsg::kException, png, nullptr},
        {"text parts before a file part of the same name", Body({TextPart("up", "t1"), TextPart("up", "t2"),
         FilePart("up", "f.bin", "FILE")}), L"up", kNull, JaMsg::kException, "FILE", nullptr},
        {"empty file input is a text value", Body({FilePart("up", "", "")}), L"up", "", nullptr, "", nullptr},
        {"zero byte inside a value", Body({TextPart("z", std::string("a\0b", 3)), TextPart("z", "c")}), L"z",
         std::string("a\0b,c", 5), nullptr, std::string("a\0b,c", 5), nullptr},
        {"more than 3000 values", Repeated("r", "v", 3001), L"r", JoinedCopies("v", 3000), nullptr,
         JoinedCopies("v", 3000), nullptr},
        {"body without CR LF", "no line breaks at all", L"f", kNull, JaMsg::kException, kNoArray, JaMsg::kException},
        {"empty body", "", L"f", kNull, JaMsg::kException, kNoArray, JaMsg::kException},
        {"only a closing line", std::string("--") + kBoundary + "--\r\n", L"f", kNull, nullptr, kNoArray, nullptr},
        {"empty item name matches an unnamed part", Body({TextPart("", "anon")}), L"", "anon", nullptr, "anon", nullptr},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.label);
        ByteArrayVariant body(c.body);
        BSTR bstrItem = SysAllocStringLen(c.item.data(), static_cast<UINT>(c.item.size()));

        BSTR bstrValue = reinterpret_cast<BSTR>(0x1);  // must be replaced
        EXPECT_EQ(S_OK, m_webmng.Form(body.get(), bstrItem, &bstrValue));
        EXPECT_EQ(c.formText, Narrow(bstrValue));
        PublishedError error = TakeError();
        EXPECT_EQ(c.formMessage != nullptr, error.bPresent);
        if (c.formMessage) EXPECT_EQ(c.formMessage, error.description);
        SysFreeString(bstrValue);

        VARIANT varValue;
        VariantInit(&varValue);
        EXPECT_EQ(S_OK, m_webmng.FormBinary(body.get(), bstrItem, &varValue));
        if (c.binary == kNoArray) {
            EXPECT_EQ(VT_EMPTY, varValue.vt);
            EXPECT_EQ(nullptr, varValue.parray);
        } else {
            EXPECT_EQ(VT_ARRAY | VT_UI1, varValue.vt);
            ASSERT_NE(nullptr, varValue.parray);
            EXPECT_EQ(1u, SafeArrayGetDim(varValue.parray));
            EXPECT_EQ(0, varValue.parray->rgsabound[0].lLbound);
            EXPECT_EQ(c.binary, BytesOf(varValue));
        }
        error = TakeError();
        EXPECT_EQ(c.binaryMessage != nullptr, error.bPresent);
        if (c.binaryMessage) EXPECT_EQ(c.binaryMessage, error.description);
        VariantClear(&varValue);
        SysFreeString(bstrItem);
    }
}

TEST_F(FormValues, ValuesAreReadInTheAnsiCodePage) {
    // 名前 = 田中 in Shift_JIS; 表 (0x95 0x5C) ends in a backslash byte.
    ByteArrayVariant body(Body({TextPart("\x96\xBC\x91\x4F", "\x93\x63\x92\x86\x95\x5C")}));
    BSTR bstrItem = SysAllocString(L"名前");
    BSTR bstrValue = nullptr;
    EXPECT_EQ(S_OK, m_webmng.Form(body.get(), bstrItem, &bstrValue));
    if (CodePage() == 932) {
        ASSERT_NE(nullptr, bstrValue);
        EXPECT_EQ(std::wstring(L"田中表"), std::wstring(bstrValue, SysStringLen(bstrValue)));
    } else {
        EXPECT_EQ(nullptr, bstrValue);  // the name has no 1252 form that matches
    }
    EXPECT_FALSE(TakeError().bPresent);
    SysFreeString(bstrValue);
    SysFreeString(bstrItem);
}

TEST_F(FormValues, AnswerIsTheJoinedTextConvertedWhole) {
    // ASCII values before a non-ASCII one, and a value ending in a lone lead
    // byte (0x93 in 932) that meets the comma: the answer is the joined text
    // converted as one, whatever shortcut all-ASCII answers take.
    const std::string values[] = {"ab", "c", "\x93\x63", "\x93", "d"};
    std::vector<std::string> parts;
    std::string joined;
    for (const std::string& v : values) {
        parts.push_back(TextPart("m", v));
        joined += (joined.empty() ? "" : ",") + v;
    }
    const int cch = MultiByteToWideChar(CP_ACP, 0, joined.data(), static_cast<int>(joined.size()), nullptr, 0);
    std::wstring expected(static_cast<std::size_t>(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, joined.data(), static_cast<int>(joined.size()), &expected[0], cch);

    ByteArrayVariant body(Body(parts));
    BSTR bstrItem = SysAllocString(L"m");
    BSTR bstrValue = nullptr;
    EXPECT_EQ(S_OK, m_webmng.Form(body.get(), bstrItem, &bstrValue));
    ASSERT_NE(nullptr, bstrValue);
    EXPECT_EQ(expected, std::wstring(bstrValue, SysStringLen(bstrValue)));
    EXPECT_FALSE(TakeError().bPresent);
    SysFreeString(bstrValue);
    SysFreeString(bstrItem);
}

// Item names that the ANSI code page cannot spell exactly, or that hold a zero
// character, name no part: as '?' or cut at the zero they would name another.
TEST_F(FormValues, ItemNamesAreSpelledExactlyOrNotFound) {
    ByteArrayVariant body(Body({TextPart("?", "question"), TextPart("f", "value")}));
    const std::wstring names[] = {L"\u2603", std::wstring(L"f\0x", 3)};
    for (const std::wstring& name : names) {
        SCOPED_TRACE(testing::Message() << "name of " << name.size() << " characters");
        BSTR bstrItem = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        BSTR bstrValue = reinterpret_cast<BSTR>(0x1234);
        EXPECT_EQ(S_OK, m_webmng.Form(body.get(), bstrItem, &bstrValue));
        EXPECT_EQ(nullptr, bstrValue);
        VARIANT varValue;
        VariantInit(&varValue);
        EXPECT_EQ(S_OK, m_webmng.FormBinary(body.get(), bstrItem, &varValue));
        EXPECT_EQ(nullptr, varValue.parray);
        EXPECT_FALSE(TakeError().bPresent);
        SysFreeString(bstrItem);
    }
}

// One variable as both the body and the output: the body is still read
// whole, and the output replaces it afterwards.
TEST_F(FormValues, OneVariableAsBodyAndOutput) {
    ByteArrayVariant body(Body({TextPart("f", "value")}));
    SAFEARRAY* psaBody = body.get()->parray;
    BSTR bstrItem = SysAllocString(L"f");
    EXPECT_EQ(S_OK, m_webmng.FormBinary(body.get(), bstrItem, body.get()));
    EXPECT_FALSE(TakeError().bPresent);
    ASSERT_NE(psaBody, body.get()->parray);
    EXPECT_EQ("value", BytesOf(*body.get()));
    SafeArrayDestroy(psaBody);
    SysFreeString(bstrItem);
}

TEST_F(FormValues, ArgumentChecksInOrder) {
    ByteArrayVariant body(Body({TextPart("f", "v")}));
    BSTR bstrItem = SysAllocString(L"f");
    RefusedArrays refused(body);

    struct Check {
        const char* label;
        VARIANT* pvarBody;
        BSTR bstrItem;
        const wchar_t* message;
    };
    std::vector<Check> checks = {
        {"null item name", body.get(), nullptr, JaMsg::kItemNameNull},
        {"null item name comes before the type", refused.text(), nullptr, JaMsg::kItemNameNull},
        {"string variant", refused.text(), bstrItem, JaMsg::kNotArrayType},
    };
    for (const RefusedArrays::Row& shape : refused.Shapes())
        checks.push_back({shape.label, shape.pvar, bstrItem, JaMsg::kNotArrayType});
    for (const Check& c : checks) {
        SCOPED_TRACE(c.label);
        BSTR bstrSentinel = reinterpret_cast<BSTR>(0x1234);
        BSTR bstrValue = bstrSentinel;
        EXPECT_EQ(E_FAIL, m_webmng.Form(c.pvarBody, c.bstrItem, &bstrValue));
        EXPECT_EQ(bstrSentinel, bstrValue) << "output written";
        PublishedError error = TakeError();
        EXPECT_TRUE(error.bPresent);
        EXPECT_EQ(c.message, error.description);
        EXPECT_TRUE(IsEqualGUID(IID_IWebMng, error.guid));

        VARIANT varValue;
        VariantInit(&varValue);
        varValue.vt = VT_I4;
        varValue.lVal = 77;
        EXPECT_EQ(E_FAIL, m_webmng.FormBinary(c.pvarBody, c.bstrItem, &varValue));
        EXPECT_EQ(VT_I4, varValue.vt);
        EXPECT_EQ(77, varValue.lVal);
        EXPECT_EQ(c.message, TakeError().description);
    }
    // Null pointers for the body or the output: E_POINTER, nothing published.
    EXPECT_EQ(E_POINTER, m_webmng.Form(body.get(), bstrItem, nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.Form(nullptr, bstrItem, nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.FormBinary(body.get(), bstrItem, nullptr));
    EXPECT_FALSE(TakeError().bPresent);

    SysFreeString(bstrItem);
}

TEST_F(FormValues, FormBinaryKeepsTheCallersTypeWhenNothingIsFound) {
    ByteArrayVariant body(Body({TextPart("f", "v")}));
    BSTR bstrItem = SysAllocString(L"absent");
    VARIANT varValue;
    VariantInit(&varValue);
    varValue.vt = VT_I4;
    varValue.parray = reinterpret_cast<SAFEARRAY*>(0x5678);
    EXPECT_EQ(S_OK, m_webmng.FormBinary(body.get(), bstrItem, &varValue));
    EXPECT_EQ(VT_I4, varValue.vt);
    EXPECT_EQ(nullptr, varValue.parray);
    SysFreeString(bstrItem);
}

TEST_F(FormValues, LockFailureIsASystemError) {
    ByteArrayVariant body(Body({TextPart("f", "v")}));
    BSTR bstrItem = SysAllocString(L"f");
    SAFEARRAY* psa = body.get()->parray;
    USHORT usLocks = psa->cLocks;
    psa->cLocks = 0xFFFF;  // one more lock overflows the count, so the lock is refused
    BSTR bstrValue = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(E_FAIL, m_webmng.Form(body.get(), bstrItem, &bstrValue));
    EXPECT_EQ(nullptr, bstrValue) << "cleared before the lock";
    EXPECT_EQ(JaMsg::kSystemError, TakeError().description);
    psa->cLocks = usLocks;
    SysFreeString(bstrItem);
}

// Sets or removes the class's ProgID for a test and puts back what the
// registry held before (the prefix may have VARO registered).
class ProgIdState {
public:
    ProgIdState() {
        m_bClassKeyExisted = KeyExists(kClassKey);
        m_bProgIdExisted = KeyExists(kProgIdKey);
        if (m_bProgIdExisted) {
            LONG cb = sizeof m_szOld;
            RegQueryValueA(HKEY_CLASSES_ROOT, kProgIdKey, m_szOld, &cb);
        }
    }
    ~ProgIdState() {
        if (m_bProgIdExisted) {
            RegSetValueA(HKEY_CLASSES_ROOT, kProgIdKey, REG_SZ, m_szOld, lstrlenA(m_szOld));
            return;
        }
        RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgIdKey);
        if (!m_bClassKeyExisted) RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
    }
    void Remove() { RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgIdKey); }
    bool Set(const char* pszProgId) {
        return RegSetValueA(HKEY_CLASSES_ROOT, kProgIdKey, REG_SZ, pszProgId, lstrlenA(pszProgId)) == ERROR_SUCCESS;
    }

private:
    static constexpr char kClassKey[] = "CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}";
    static constexpr char kProgIdKey[] = "CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\\ProgID";
    static bool KeyExists(const char* pszKey) {
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
        RegCloseKey(hKey);
        return true;
    }
    bool m_bClassKeyExisted = false;
    bool m_bProgIdExisted = false;
    char m_szOld[256] = "";
};

TEST_F(FormValues, PublishedErrorNamesTheClassAndInterface) {
    ByteArrayVariant body("");
    BSTR bstrItem = SysAllocString(L"f");
    BSTR bstrValue = nullptr;
    ProgIdState progId;

    // Without a registered ProgID the source stays unset.
    progId.Remove();
    EXPECT_EQ(S_OK, m_webmng.Form(body.get(), bstrItem, &bstrValue));
    PublishedError error = TakeError();
    ASSERT_TRUE(error.bPresent);
    EXPECT_EQ(L"", error.source);
    EXPECT_EQ(JaMsg::kException, error.description);
    EXPECT_TRUE(IsEqualGUID(IID_IWebMng, error.guid));

    // With the class's ProgID registered it becomes the source.
    ASSERT_TRUE(progId.Set("VARO.WebMng.1"));
    EXPECT_EQ(S_OK, m_webmng.Form(body.get(), bstrItem, &bstrValue));
    error = TakeError();
    EXPECT_EQ(L"VARO.WebMng.1", error.source);
    EXPECT_EQ(JaMsg::kException, error.description);
    SysFreeString(bstrItem);
}
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WebMngEnvironment);
    return RUN_ALL_TESTS();
}

// Form and FormBinary called as a page script calls them: through the type
// library's Invoke, the body passed as a reference to the script's variable.
#include "invoke_fixture.h"

namespace {
TEST_F(InvokeTest, FormJoinsTheFieldsValues) {
    ScriptVariable body;
    SetBytes(body.get(), Body({TextPart("comment", "a"), TextPart("other", "q"), TextPart("comment", ""),
                               TextPart("comment", "c")}));
    ScriptCall call;
    call.Var(body).Literal(L"comment");
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"Form"));
    ASSERT_EQ(VT_BSTR, call.result.vt);
    EXPECT_EQ(L"a,,c", StringOf(call.result));
    EXPECT_EQ(VT_ARRAY | VT_UI1, (*body).vt) << "the script's variable is left as it was";
}

// Not found is no failure: the script gets an empty string (the method's null
// string; Wine's result copy makes it a zero-length one).
TEST_F(InvokeTest, FormOfAnAbsentFieldIsEmpty) {
    ScriptVariable body;
    SetBytes(body.get(), Body({TextPart("comment", "a")}));
    ScriptCall call;
    call.Var(body).Literal(L"missing");
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"form"));
    ASSERT_EQ(VT_BSTR, call.result.vt);
    EXPECT_EQ(0u, SysStringLen(call.result.bstrVal));
}

TEST_F(InvokeTest, FormBinaryReturnsAnUploadedFilesBytes) {
    const std::string content("\x00\x01\xFFzz\r\n--", 8);
    ScriptVariable body;
    SetBytes(body.get(), Body({TextPart("comment", "a"), FilePart("upfile", "C:\\data\\photo.jpg", content)}));
    ScriptCall call;
    call.Var(body).Literal(L"upfile");
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"FormBinary"));
    ASSERT_EQ(VT_ARRAY | VT_UI1, call.result.vt);
    EXPECT_EQ(content, BytesOf(call.result));
}

// The item name may also come from a script variable.
TEST_F(InvokeTest, FormTakesTheNameFromAVariable) {
    ScriptVariable body, name;
    SetBytes(body.get(), Body({TextPart("comment", "from a variable")}));
    SetString(name.get(), L"comment");
    ScriptCall call;
    call.Var(body).Var(name);
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"Form"));
    EXPECT_EQ(L"from a variable", StringOf(call.result));
}

struct FormFailure {
    const char* what;
    const wchar_t* pszMethod;
    bool bBodyIsText;  // a string where the byte array belongs
    bool bNullName;
    const wchar_t* pszDescription;
};

TEST_F(InvokeTest, FailedFormCallsSurfaceTheirJapaneseDescription) {
    const FormFailure cases[] = {
        {"Form, text for the body", L"Form", true, false, JaMsg::kNotArrayType},
        {"Form, null item name", L"Form", false, true, JaMsg::kItemNameNull},
        {"FormBinary, text for the body", L"FormBinary", true, false, JaMsg::kNotArrayType},
        {"FormBinary, null item name", L"FormBinary", false, true, JaMsg::kItemNameNull},
    };
    for (const FormFailure& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptVariable body;
        if (c.bBodyIsText)
            SetString(body.get(), L"not bytes");
        else
            SetBytes(body.get(), Body({TextPart("comment", "a")}));
        ScriptCall call;
        call.Var(body);
        if (c.bNullName)
            call.NullString();
        else
            call.Literal(L"comment");
        ExpectException(call, call.Run(m_pObject, c.pszMethod), c.pszDescription);
    }
}
}  // namespace

// The upload and file methods, and CreateGUID, called as a page script calls
// them: through the type library's Invoke, out values written into the
// script's own variables.
#include "invoke_fixture.h"

#include <cwctype>
#include <deque>
#include <vector>

namespace {
long IntegerResult(const ScriptCall& call) { return call.result.vt == VT_I4 ? call.result.lVal : 12345; }

TEST_F(InvokeTest, GetFileInfoDescribesAnUpload) {
    const std::string content(1234, 'x');
    ScriptVariable body, path, filename, size;
    SetBytes(body.get(), Body({TextPart("comment", "a"), FilePart("upfile", "C:\\data\\photo.jpg", content)}));
    ScriptCall call;
    call.Var(body).Literal(L"upfile").Var(path).Var(filename).Var(size);
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"GetFileInfo"));
    EXPECT_EQ(0, IntegerResult(call));
    EXPECT_EQ(VT_BSTR, (*path).vt);
    EXPECT_EQ(L"C:\\data", StringOf(*path));
    EXPECT_EQ(L"photo.jpg", StringOf(*filename));
    ASSERT_EQ(VT_I4, (*size).vt);
    EXPECT_EQ(1234, (*size).lVal);
}

TEST_F(InvokeTest, WriteFormSavesAnUpload) {
    const std::string content("\x00upload\xFF\r\n", 10);
    ScriptVariable body;
    SetBytes(body.get(), Body({FilePart("upfile", "photo.jpg", content)}));
    ScriptCall call;
    call.Var(body).Literal(PathOf("saved.bin")).Literal(L"upfile");
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"WriteForm"));
    EXPECT_EQ(0, IntegerResult(call));
    EXPECT_EQ(content, ReadFileBytes(AnsiPathOf("saved.bin")));
}

TEST_F(InvokeTest, WriteBinaryThenReadBinaryGiveBackTheBytes) {
    const std::string bytes("\x00\x01\x02\xFE\xFF binary", 12);
    ScriptVariable data;
    SetBytes(data.get(), bytes);
    ScriptCall write;
    write.Var(data).Literal(PathOf("data.bin"));
    ASSERT_EQ(S_OK, write.Run(m_pObject, L"WriteBinary"));
    EXPECT_EQ(0, IntegerResult(write));
    EXPECT_EQ(bytes, ReadFileBytes(AnsiPathOf("data.bin")));

    ScriptVariable readBack;
    ScriptCall read;
    read.Literal(PathOf("data.bin")).Var(readBack);
    ASSERT_EQ(S_OK, read.Run(m_pObject, L"ReadBinary"));
    EXPECT_EQ(0, IntegerResult(read));
    ASSERT_EQ(VT_ARRAY | VT_UI1, (*readBack).vt);
    EXPECT_EQ(bytes, BytesOf(*readBack));
}

// An object a script variable can hold, counting the references to it.
class CountedObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_lRef); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_lRef); }
    LONG Count() const { return m_lRef; }

    // Puts a counted reference into the variable.
    void HeldBy(ScriptVariable& variable) {
        AddRef();
        variable.get()->vt = VT_UNKNOWN;
        variable.get()->punkVal = this;
    }

private:
    LONG m_lRef = 1;  // the test's own
};

// A script that reuses its variables for out values gets back what they held
// (here, an object whose references are counted) instead of leaking it.
TEST_F(InvokeTest, ReusedOutVariablesReleaseWhatTheyHeld) {
    ASSERT_TRUE(WriteFileBytes(AnsiPathOf("data.bin"), "bytes"));
    CountedObject held[4];
    ScriptVariable data, path, filename, size;
    held[0].HeldBy(data);
    ScriptCall read;
    read.Literal(PathOf("data.bin")).Var(data);
    ASSERT_EQ(S_OK, read.Run(m_pObject, L"ReadBinary"));
    EXPECT_EQ(0, IntegerResult(read));
    EXPECT_EQ(1, held[0].Count()) << "the variable's object was not released";
    EXPECT_EQ("bytes", BytesOf(*data));

    ScriptVariable body;
    SetBytes(body.get(), Body({FilePart("upfile", "C:\\up\\photo.jpg", "xyz")}));
    held[1].HeldBy(path);
    held[2].HeldBy(filename);
    held[3].HeldBy(size);
    ScriptCall info;
    info.Var(body).Literal(L"upfile").Var(path).Var(filename).Var(size);
    ASSERT_EQ(S_OK, info.Run(m_pObject, L"GetFileInfo"));
    EXPECT_EQ(0, IntegerResult(info));
    for (int i = 1; i < 4; ++i) EXPECT_EQ(1, held[i].Count()) << "out variable " << i;
    EXPECT_EQ(L"photo.jpg", StringOf(*filename));
}

// A variable passed both as the body and as an out value is still read as
// the body; a call with the wrong number of arguments fails without touching
// the caller's variables.
TEST_F(InvokeTest, OutVariablesThatMustStayAreKept) {
    ScriptVariable body, filename, size;
    SetBytes(body.get(), Body({FilePart("upfile", "C:\\up\\photo.jpg", "xyz")}));
    SAFEARRAY* psaBody = (*body).parray;
    ScriptCall info;
    info.Var(body).Literal(L"upfile").Var(body).Var(filename).Var(size);
    ASSERT_EQ(S_OK, info.Run(m_pObject, L"GetFileInfo"));
    EXPECT_EQ(0, IntegerResult(info)) << "the body was cleared before it was read";
    EXPECT_EQ(L"C:\\up", StringOf(*body));
    SafeArrayDestroy(psaBody);  // written over by the path, as the call's contract has it

    CountedObject held;
    ScriptVariable data;
    held.HeldBy(data);
    ScriptCall wrongCount;
    wrongCount.Literal(PathOf("data.bin")).Var(data).Literal(L"extra");
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, wrongCount.Run(m_pObject, L"ReadBinary"));
    EXPECT_EQ(2, held.Count());
    EXPECT_EQ(VT_UNKNOWN, (*data).vt);
}

TEST_F(InvokeTest, DeleteFileDeletesOneFile) {
    ASSERT_TRUE(WriteFileBytes(AnsiPathOf("gone.txt"), "x"));
    ScriptCall call;
    call.Literal(PathOf("gone.txt"));
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"DeleteFile"));
    EXPECT_EQ(0, IntegerResult(call));
    EXPECT_FALSE(FileExists(AnsiPathOf("gone.txt")));

    ScriptCall again;
    again.Literal(PathOf("gone.txt"));
    ASSERT_EQ(S_OK, again.Run(m_pObject, L"DeleteFile"));
    EXPECT_EQ(-1, IntegerResult(again)) << "not found is not a failure";
}

TEST_F(InvokeTest, DeleteFileExDeletesEveryMatch) {
    for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "keep.txt"}) ASSERT_TRUE(WriteFileBytes(AnsiPathOf(name), name));
    ScriptCall call;
    call.Literal(Directory()).Literal(L"*.tmp");
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"DeleteFileEx"));
    EXPECT_EQ(0, IntegerResult(call));
    for (const char* name : {"a.tmp", "b.tmp", "c.tmp"}) EXPECT_FALSE(FileExists(AnsiPathOf(name))) << name;
    EXPECT_TRUE(FileExists(AnsiPathOf("keep.txt")));
}

bool IsGuidText(const std::wstring& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool bHyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (bHyphen != (text[i] == L'-')) return false;
        if (!bHyphen && !(std::iswdigit(text[i]) || (text[i] >= L'a' && text[i] <= L'f'))) return false;
    }
    return true;
}

TEST_F(InvokeTest, CreateGUIDGivesANewGuidEachCall) {
    ScriptCall first, second;
    ASSERT_EQ(S_OK, first.Run(m_pObject, L"CreateGUID"));
    ASSERT_EQ(S_OK, second.Run(m_pObject, L"CreateGUID"));
    ASSERT_EQ(VT_BSTR, first.result.vt);
    EXPECT_TRUE(IsGuidText(StringOf(first.result))) << std::string(StringOf(first.result).begin(), StringOf(first.result).end());
    EXPECT_TRUE(IsGuidText(StringOf(second.result)));
    EXPECT_NE(StringOf(first.result), StringOf(second.result));
}

// The arguments of a failing call, in script order.
enum class Arg { Body, Text, OutVar, NullString, MissingFile, FileInMissingDir, Pattern, ItemName };

struct FileFailure {
    const char* what;
    const wchar_t* pszMethod;
    std::vector<Arg> args;
    const wchar_t* pszDescription;
};

TEST_F(InvokeTest, FailedFileCallsSurfaceTheirJapaneseDescription) {
    const FileFailure cases[] = {
        {"ReadBinary, missing file", L"ReadBinary", {Arg::MissingFile, Arg::OutVar}, JaMsg::kFileOpenError},
        {"ReadBinary, null file name", L"ReadBinary", {Arg::NullString, Arg::OutVar}, JaMsg::kFileNameNull},
        {"WriteBinary, null file name", L"WriteBinary", {Arg::Body, Arg::NullString}, JaMsg::kFileNameNull},
        {"WriteBinary, text for the bytes", L"WriteBinary", {Arg::Text, Arg::MissingFile}, JaMsg::kNotArrayType},
        {"DeleteFile, directory missing", L"DeleteFile", {Arg::FileInMissingDir}, JaMsg::kFileDeleteFailed},
        {"DeleteFile, null file name", L"DeleteFile", {Arg::NullString}, JaMsg::kFileNameNull},
        {"DeleteFileEx, null path", L"DeleteFileEx", {Arg::NullString, Arg::Pattern}, JaMsg::kPathNameNull},
        {"WriteForm, null file name", L"WriteForm", {Arg::Body, Arg::NullString, Arg::ItemName}, JaMsg::kFileNameNull},
        {"GetFileInfo, text for the body", L"GetFileInfo",
         {Arg::Text, Arg::ItemName, Arg::OutVar, Arg::OutVar, Arg::OutVar}, JaMsg::kNotArrayType},
    };
    for (const FileFailure& c : cases) {
        SCOPED_TRACE(c.what);
        std::deque<ScriptVariable> variables;
        ScriptCall call;
        for (Arg arg : c.args) {
            switch (arg) {
            case Arg::Body:
                variables.emplace_back();
                SetBytes(variables.back().get(), Body({FilePart("upfile", "a.txt", "abc")}));
                call.Var(variables.back());
                break;
            case Arg::Text:
                variables.emplace_back();
                SetString(variables.back().get(), L"not bytes");
                call.Var(variables.back());
                break;
            case Arg::OutVar:
                variables.emplace_back();
                call.Var(variables.back());
                break;
            case Arg::NullString: call.NullString(); break;
            case Arg::MissingFile: call.Literal(PathOf("missing.bin")); break;
            case Arg::FileInMissingDir: call.Literal(PathOf("no-such-dir\\x.txt")); break;
            case Arg::Pattern: call.Literal(L"*.tmp"); break;
            case Arg::ItemName: call.Literal(L"upfile"); break;
            }
        }
        ExpectException(call, call.Run(m_pObject, c.pszMethod), c.pszDescription);
    }
}

// After the byte array is locked a failure is no exception: the script reads
// -1, and the description waits on the thread.
TEST_F(InvokeTest, WriteBinaryFailureAfterTheLockReturnsMinusOne) {
    ScriptVariable data;
    SetBytes(data.get(), "abc");
    SetErrorInfo(0, nullptr);
    ScriptCall call;
    call.Var(data).Literal(PathOf("no-such-dir\\x.bin"));
    ASSERT_EQ(S_OK, call.Run(m_pObject, L"WriteBinary"));
    EXPECT_EQ(-1, IntegerResult(call));
    IErrorInfo* pInfo = nullptr;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &pInfo));
    BSTR bstrDescription = nullptr;
    pInfo->GetDescription(&bstrDescription);
    EXPECT_TRUE(bstrDescription && std::wstring(bstrDescription) == JaMsg::kFileOpenError);
    SysFreeString(bstrDescription);
    pInfo->Release();
}
}  // namespace

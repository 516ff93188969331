// GetFileInfo and WriteForm over request bodies: client names split into
// directory and file name, uploads saved to new files, statuses and messages.
#include <gtest/gtest.h>

#include <string>

#include "file_method_fixture.h"
#include "import_patch.h"

namespace {
class UploadedFiles : public FileMethodTest {
protected:
    UploadedFiles() : FileMethodTest("uploaded_files_test") {}
};

// nullptr stands for a null string.
std::wstring Shown(BSTR bstr) { return bstr ? std::wstring(bstr, SysStringLen(bstr)) : L"<null>"; }
std::wstring Shown(const wchar_t* psz) { return psz ? psz : L"<null>"; }

struct Described {
    const wchar_t* path;
    const wchar_t* filename;
};

struct ClientNameCase {
    const char* label;
    std::string body;
    Described cp932, cp1252;
    LONG size;
};

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

TEST_F(UploadedFiles, GetFileInfoDescribesTheClientFile) {
    const std::string content("JFIF\0\r\n--x\r\n", 12);
    auto upload = [&](const std::string& clientName) {
        return Body({TextPart("t", "x"), FilePart("up", clientName, content)});
    };
    const LONG cb = static_cast<LONG>(content.size());
    const ClientNameCase cases[] = {
        {"directory and name", upload("C:\\data\\photo.jpg"), {L"C:\\data", L"photo.jpg"}, {L"C:\\data", L"photo.jpg"},
         cb},
        {"no separator", upload("photo.jpg"), {nullptr, L"photo.jpg"}, {nullptr, L"photo.jpg"}, cb},
        {"leading backslash only", upload("\\photo.jpg"), {nullptr, L"\\photo.jpg"}, {nullptr, L"\\photo.jpg"}, cb},
        {"leading slash only", upload("/photo.jpg"), {nullptr, L"/photo.jpg"}, {nullptr, L"/photo.jpg"}, cb},
        {"trailing backslash", upload("C:\\data\\"), {L"C:\\data", L""}, {L"C:\\data", L""}, cb},
        {"forward slashes", upload("C:/data/photo.jpg"), {L"C:/data", L"photo.jpg"}, {L"C:/data", L"photo.jpg"}, cb},
        {"relative path climbing out", upload("../../x.asp"), {L"../..", L"x.asp"}, {L"../..", L"x.asp"}, cb},
        {"the last of either separator", upload("a\\b/c\\d.txt"), {L"a\\b/c", L"d.txt"}, {L"a\\b/c", L"d.txt"}, cb},
        // 表 is 0x95 0x5C and ソ is 0x83 0x5C in Shift_JIS: under 932 their
        // second byte is no backslash; under 1252 each byte is a character.
        {"double-byte name only", upload("\x95\x5C.txt"), {nullptr, L"表.txt"}, {L"\u2022", L".txt"}, cb},
        {"double-byte name in a directory", upload("C:\\\x83\x5C\x83t\x83g.csv"), {L"C:", L"ソフト.csv"},
         {L"C:\\\u0192", L"\u0192t\u0192g.csv"}, cb},
        {"double-byte directory", upload("\x95\x5C\\a.txt"), {L"表", L"a.txt"}, {L"\u2022\\", L"a.txt"}, cb},
        {"empty upload", upload(""), {nullptr, L""}, {nullptr, L""}, cb},
        {"zero-byte file", Body({FilePart("up", "C:\\e.txt", "")}), {L"C:", L"e.txt"}, {L"C:", L"e.txt"}, 0},
        {"text field: its first value", Body({TextPart("up", "first"), TextPart("up", "second")}), {nullptr, L""},
         {nullptr, L""}, 5},
    };
    for (const ClientNameCase& c : cases) {
        SCOPED_TRACE(c.label);
        ByteArrayVariant body(c.body);
        UniqueBstr item(NewBstr(L"up"));
        VARIANT varPath, varFilename, varSize;
        VariantInit(&varPath);
        VariantInit(&varFilename);
        varSize.vt = VT_EMPTY;
        varSize.lVal = 99;
        LONG lResult = 7;
        EXPECT_EQ(S_OK, m_webmng.GetFileInfo(body.get(), item.get(), &varPath, &varFilename, &varSize, &lResult));
        const Described& expected = CodePage() == 932 ? c.cp932 : c.cp1252;
        EXPECT_EQ(0, lResult);
        EXPECT_EQ(VT_BSTR, varPath.vt);
        EXPECT_EQ(Shown(expected.path), Shown(varPath.bstrVal));
        EXPECT_EQ(VT_BSTR, varFilename.vt);
        EXPECT_EQ(Shown(expected.filename), Shown(varFilename.bstrVal));
        EXPECT_EQ(VT_I4, varSize.vt);
        EXPECT_EQ(c.size, varSize.lVal);
        EXPECT_EQ(kNothing, Published());
        VariantClear(&varPath);
        VariantClear(&varFilename);
    }
}

TEST_F(UploadedFiles, GetFileInfoWithoutTheItem) {
    struct Case {
        const char* label;
        std::string body;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"item absent", Body({FilePart("other", "C:\\a.txt", "abc")}), kNothing},
        {"body without a line break", "no line breaks", JaMsg::kException},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ByteArrayVariant body(c.body);
        UniqueBstr item(NewBstr(L"up"));
        // Old values the outputs must lose, as a script's variables would hold.
        VARIANT varPath, varFilename, varSize;
        varPath.vt = varFilename.vt = varSize.vt = VT_I4;
        varPath.lVal = varFilename.lVal = varSize.lVal = 42;
        LONG lResult = 7;
        EXPECT_EQ(S_OK, m_webmng.GetFileInfo(body.get(), item.get(), &varPath, &varFilename, &varSize, &lResult));
        EXPECT_EQ(-1, lResult);
        EXPECT_EQ(VT_BSTR, varPath.vt);
        EXPECT_EQ(nullptr, varPath.bstrVal);
        EXPECT_EQ(VT_BSTR, varFilename.vt);
        EXPECT_EQ(nullptr, varFilename.bstrVal);
        EXPECT_EQ(VT_I4, varSize.vt);
        EXPECT_EQ(0, varSize.lVal);
        EXPECT_EQ(c.message, Published());
    }
}

struct WriteCase {
    const char* label;
    std::string body;
    std::wstring target;        // inside the scratch folder
    const char* existing;       // the target's content before the call, or nullptr for none
    LONG result;
    const wchar_t* message;
    std::string content;        // the target's content after the call
};

const char kMissing[] = "<missing>";

TEST_F(UploadedFiles, WriteFormSavesTheValues) {
    const std::string bytes = AllByteValues() + "\r\n--" + kBoundary + "x\r\n" + AllByteValues();
    const WriteCase cases[] = {
        {"uploaded file, every byte value", Body({TextPart("t", "x"), FilePart("up", "C:\\b.bin", bytes)}), L"a.bin",
         nullptr, 0, kNothing, bytes},
        {"zero-byte upload", Body({FilePart("up", "C:\\e.txt", "")}), L"empty.txt", nullptr, 0, kNothing, ""},
        {"two text values joined by a comma", Body({TextPart("up", "x"), TextPart("other", "-"), TextPart("up", "yz")}),
         L"joined.txt", nullptr, 0, kNothing, "x,yz"},
        {"absent item creates no file", Body({TextPart("other", "x")}), L"absent.txt", nullptr, -1, kNothing, kMissing},
        {"failed scan creates no file", "no line breaks", L"failed.txt", nullptr, -1, JaMsg::kException, kMissing},
        {"existing target left untouched", Body({FilePart("up", "n.txt", "new")}), L"old.txt", "old content", -1,
         JaMsg::kFileOpenError, "old content"},
        {"missing directory", Body({FilePart("up", "n.txt", "new")}), L"missing\\new.txt", nullptr, -1,
         JaMsg::kFileOpenError, kMissing},
    };
    // A device takes the bytes and keeps none: refused as a target that
    // cannot be opened, in any folder and with any extension.
    for (const wchar_t* pszDevice : {L"nul.txt", L"NUL", L"con", L"COM1", L"x\\aux.log", L"\\\\.\\NUL"}) {
        SCOPED_TRACE(std::string(pszDevice, pszDevice + lstrlenW(pszDevice)));
        ByteArrayVariant body(Body({FilePart("up", "n.txt", "new")}));
        UniqueBstr filename(NewBstr(pszDevice[0] == L'\\' ? pszDevice : Scratch(pszDevice)));
        UniqueBstr item(NewBstr(L"up"));
        LONG lResult = 7;
        EXPECT_EQ(S_OK, m_webmng.WriteForm(body.get(), filename.get(), item.get(), &lResult));
        EXPECT_EQ(-1, lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, Published());
    }
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring target = Scratch(c.target);
        if (c.existing) ASSERT_TRUE(PutFile(target, c.existing));
        ByteArrayVariant body(c.body);
        UniqueBstr filename(NewBstr(target));
        UniqueBstr item(NewBstr(L"up"));
        LONG lResult = 7;
        EXPECT_EQ(S_OK, m_webmng.WriteForm(body.get(), filename.get(), item.get(), &lResult));
        EXPECT_EQ(c.result, lResult);
        EXPECT_EQ(c.message, Published());
        EXPECT_EQ(c.content, FileBytes(target));
    }
}

TEST_F(UploadedFiles, WriteFormRemovesTheFileItCouldNotWrite) {
    const struct {
        const char* label;
        std::string body;
    } cases[] = {
        {"one uploaded file", Body({FilePart("up", "C:\\b.bin", "content")})},
        {"text values joined", Body({TextPart("up", "x"), TextPart("up", "yz")})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring target = Scratch(L"partial.bin");
        ByteArrayVariant body(c.body);
        UniqueBstr filename(NewBstr(target));
        UniqueBstr item(NewBstr(L"up"));
        LONG lResult = 7;
        {
            ImportPatch diskFull(GetModuleHandleW(nullptr), "kernel32.dll", "WriteFile",
                                 reinterpret_cast<const void*>(&WriteFileDiskFull));
            ASSERT_TRUE(diskFull.Applied());
            EXPECT_EQ(S_OK, m_webmng.WriteForm(body.get(), filename.get(), item.get(), &lResult));
        }
        EXPECT_EQ(-1, lResult);
        EXPECT_EQ(JaMsg::kFileWriteError, Published());
        EXPECT_FALSE(Exists(target)) << "a partial upload was left behind";
        // Nothing blocks a retry under the same name.
        EXPECT_EQ(S_OK, m_webmng.WriteForm(body.get(), filename.get(), item.get(), &lResult));
        EXPECT_EQ(0, lResult);
        EXPECT_TRUE(DeleteFileW(target.c_str()));
    }
}

// Item names that the ANSI code page cannot spell exactly, or that hold a zero
// character, name no part: as '?' or cut at the zero they would name another.
TEST_F(UploadedFiles, ItemNamesAreSpelledExactlyOrNotFound) {
    ByteArrayVariant body(Body({FilePart("?", "C:\\q.bin", "question"), FilePart("up", "C:\\u.bin", "upload")}));
    const std::wstring names[] = {L"\u2603", std::wstring(L"up\0x", 4)};
    for (const std::wstring& name : names) {
        SCOPED_TRACE(testing::Message() << "name of " << name.size() << " characters");
        UniqueBstr item(NewBstr(name));
        VARIANT varPath, varFilename, varSize;
        LONG lResult = 7;
        EXPECT_EQ(S_OK, m_webmng.GetFileInfo(body.get(), item.get(), &varPath, &varFilename, &varSize, &lResult));
        EXPECT_EQ(-1, lResult);
        EXPECT_EQ(nullptr, varFilename.bstrVal);
        EXPECT_EQ(kNothing, Published());

        const std::wstring target = Scratch(L"never.bin");
        UniqueBstr filename(NewBstr(target));
        lResult = 7;
        EXPECT_EQ(S_OK, m_webmng.WriteForm(body.get(), filename.get(), item.get(), &lResult));
        EXPECT_EQ(-1, lResult);
        EXPECT_EQ(kNothing, Published());
        EXPECT_FALSE(Exists(target));
    }
}

TEST_F(UploadedFiles, ArgumentChecksInOrder) {
    ByteArrayVariant body(Body({FilePart("up", "C:\\a.txt", "abc")}));
    UniqueBstr item(NewBstr(L"up"));
    const std::wstring target = Scratch(L"checked.txt");
    UniqueBstr filename(NewBstr(target));
    RefusedArrays refused(body);

    struct Check {
        const char* label;
        VARIANT* pvarBody;
        BSTR bstrFilename;
        BSTR bstrItem;
        const wchar_t* getFileInfoMessage;
        const wchar_t* writeFormMessage;
    };
    std::vector<Check> checks = {
        {"null file name first", refused.text(), nullptr, nullptr, JaMsg::kItemNameNull, JaMsg::kFileNameNull},
        {"null item name before the type", refused.text(), filename.get(), nullptr, JaMsg::kItemNameNull,
         JaMsg::kItemNameNull},
        {"string variant", refused.text(), filename.get(), item.get(), JaMsg::kNotArrayType, JaMsg::kNotArrayType},
    };
    for (const RefusedArrays::Row& shape : refused.Shapes())
        checks.push_back({shape.label, shape.pvar, filename.get(), item.get(), JaMsg::kNotArrayType,
                          JaMsg::kNotArrayType});
    for (const Check& c : checks) {
        SCOPED_TRACE(c.label);
        VARIANT varPath, varFilename, varSize;
        varPath.vt = varFilename.vt = varSize.vt = VT_I4;
        varPath.lVal = varFilename.lVal = varSize.lVal = 42;
        LONG lResult = 7;
        EXPECT_EQ(E_FAIL, m_webmng.GetFileInfo(c.pvarBody, c.bstrItem, &varPath, &varFilename, &varSize, &lResult));
        EXPECT_EQ(c.getFileInfoMessage, Published());
        EXPECT_EQ(7, lResult);
        EXPECT_EQ(VT_I4, varPath.vt);
        EXPECT_EQ(42, varPath.lVal);
        EXPECT_EQ(VT_I4, varFilename.vt);
        EXPECT_EQ(VT_I4, varSize.vt);
        EXPECT_EQ(42, varSize.lVal);

        EXPECT_EQ(E_FAIL, m_webmng.WriteForm(c.pvarBody, c.bstrFilename, c.bstrItem, &lResult));
        EXPECT_EQ(c.writeFormMessage, Published());
        EXPECT_EQ(7, lResult);
        EXPECT_FALSE(Exists(target));
    }

    // Null pointers: E_POINTER before anything else, nothing published or written.
    VARIANT varOut;
    varOut.vt = VT_I4;
    varOut.lVal = 42;
    LONG lResult = 7;
    EXPECT_EQ(E_POINTER, m_webmng.GetFileInfo(nullptr, nullptr, &varOut, &varOut, &varOut, &lResult));
    EXPECT_EQ(E_POINTER, m_webmng.GetFileInfo(body.get(), item.get(), &varOut, nullptr, &varOut, &lResult));
    EXPECT_EQ(E_POINTER, m_webmng.GetFileInfo(body.get(), item.get(), &varOut, &varOut, &varOut, nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.WriteForm(nullptr, filename.get(), item.get(), &lResult));
    EXPECT_EQ(E_POINTER, m_webmng.WriteForm(body.get(), nullptr, item.get(), nullptr));
    EXPECT_EQ(VT_I4, varOut.vt);
    EXPECT_EQ(42, varOut.lVal);
    EXPECT_EQ(7, lResult);
    EXPECT_EQ(kNothing, Published());
    EXPECT_FALSE(Exists(target));
}

TEST_F(UploadedFiles, LockFailureIsASystemError) {
    ByteArrayVariant body(Body({FilePart("up", "C:\\a.txt", "abc")}));
    UniqueBstr item(NewBstr(L"up"));
    const std::wstring target = Scratch(L"locked.txt");
    UniqueBstr filename(NewBstr(target));
    SAFEARRAY* psa = body.get()->parray;
    USHORT usLocks = psa->cLocks;
    psa->cLocks = 0xFFFF;  // one more lock overflows the count, so the lock is refused

    VARIANT varPath, varFilename, varSize;
    varPath.vt = varFilename.vt = varSize.vt = VT_EMPTY;
    varSize.lVal = 42;
    LONG lResult = 7;
    EXPECT_EQ(E_FAIL, m_webmng.GetFileInfo(body.get(), item.get(), &varPath, &varFilename, &varSize, &lResult));
    EXPECT_EQ(JaMsg::kSystemError, Published());
    EXPECT_EQ(-1, lResult) << "initialised before the lock";
    EXPECT_EQ(VT_BSTR, varPath.vt);
    EXPECT_EQ(VT_I4, varSize.vt);
    EXPECT_EQ(0, varSize.lVal);

    lResult = 7;
    EXPECT_EQ(E_FAIL, m_webmng.WriteForm(body.get(), filename.get(), item.get(), &lResult));
    EXPECT_EQ(JaMsg::kSystemError, Published());
    EXPECT_EQ(-1, lResult);
    EXPECT_FALSE(Exists(target));
    psa->cLocks = usLocks;
}
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WebMngEnvironment);
    return RUN_ALL_TESTS();
}

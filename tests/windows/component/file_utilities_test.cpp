// ReadBinary, WriteBinary, DeleteFile, DeleteFileEx and CreateGUID on real
// files, with their results, statuses and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "file_method_fixture.h"

namespace {
class FileUtilities : public FileMethodTest {
protected:
    FileUtilities() : FileMethodTest("file_utilities_test") {}

    // ReadBinary's outcome; the variant keeps kUntouched when it is not written.
    struct ReadOutcome {
        HRESULT hr;
        LONG lResult;
        std::wstring message;
        VARTYPE vt;
        std::string bytes;
    };
    ReadOutcome Read(const std::wstring& path) {
        UniqueBstr filename(NewBstr(path));
        VARIANT var;
        VariantInit(&var);
        ReadOutcome out;
        out.lResult = 7;
        out.hr = m_webmng.ReadBinary(filename.get(), &var, &out.lResult);
        out.message = Published();
        out.vt = var.vt;
        if (var.vt == (VT_ARRAY | VT_UI1)) {
            EXPECT_EQ(1u, SafeArrayGetDim(var.parray));
            EXPECT_EQ(0, var.parray->rgsabound[0].lLbound);
            out.bytes = BytesOf(var);
        }
        VariantClear(&var);
        return out;
    }

    struct WriteOutcome {
        HRESULT hr;
        LONG lResult;
        std::wstring message;
    };
    WriteOutcome Write(const std::wstring& path, const std::string& bytes) {
        ByteArrayVariant array(bytes);
        UniqueBstr filename(NewBstr(path));
        WriteOutcome out;
        out.lResult = 7;
        out.hr = m_webmng.WriteBinary(array.get(), filename.get(), &out.lResult);
        out.message = Published();
        return out;
    }
};

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

TEST_F(FileUtilities, WriteBinaryThenReadBinaryGiveTheSameBytes) {
    struct Case {
        const char* label;
        const wchar_t* name;
        const char* existing;  // content before the call, or nullptr for no file
        std::string bytes;
    };
    const Case cases[] = {
        {"every byte value", L"all.bin", nullptr, AllByteValues() + AllByteValues()},
        {"empty file", L"empty.bin", nullptr, ""},
        {"a longer file is replaced", L"replaced.bin", "old content, longer than the new", "new"},
        {"an empty array truncates", L"truncated.bin", "old", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring path = Scratch(c.name);
        if (c.existing) ASSERT_TRUE(PutFile(path, c.existing));
        WriteOutcome written = Write(path, c.bytes);
        EXPECT_EQ(S_OK, written.hr);
        EXPECT_EQ(0, written.lResult);
        EXPECT_EQ(kNothing, written.message);
        EXPECT_EQ(c.bytes, FileBytes(path));

        ReadOutcome read = Read(path);
        EXPECT_EQ(S_OK, read.hr);
        EXPECT_EQ(0, read.lResult);
        EXPECT_EQ(kNothing, read.message);
        EXPECT_EQ(VT_ARRAY | VT_UI1, read.vt);
        EXPECT_EQ(c.bytes, read.bytes);
    }
}

TEST_F(FileUtilities, FileNamesGoThroughTheAnsiCodePage) {
    // Both characters end in a 0x5C byte in Shift_JIS.
    const std::wstring path = Scratch(L"表ソ.bin");
    WriteOutcome written = Write(path, "sjis");
    ReadOutcome read = Read(path);
    if (CodePage() == 932) {
        EXPECT_EQ(0, written.lResult);
        EXPECT_EQ("sjis", FileBytes(path));
        EXPECT_EQ(0, read.lResult);
        EXPECT_EQ("sjis", read.bytes);
    } else {
        // Without the characters the name becomes one no file can have.
        EXPECT_EQ(S_OK, written.hr);
        EXPECT_EQ(-1, written.lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, written.message);
        EXPECT_EQ(E_FAIL, read.hr);
        EXPECT_EQ(-1, read.lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, read.message);
        EXPECT_TRUE(SearchOrder(Scratch()).empty()) << "a file was made under another name";
    }
}

TEST_F(FileUtilities, FileHeldOpenByAnotherHandle) {
    const std::wstring path = Scratch(L"held.bin");
    ASSERT_TRUE(PutFile(path, "held"));
    HANDLE hOther = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hOther);

    ReadOutcome read = Read(path);
    EXPECT_EQ(E_FAIL, read.hr);
    EXPECT_EQ(-1, read.lResult);
    EXPECT_EQ(JaMsg::kFileOpenError, read.message);
    EXPECT_EQ(VT_EMPTY, read.vt);

    WriteOutcome written = Write(path, "overwritten");
    EXPECT_EQ(S_OK, written.hr);
    EXPECT_EQ(-1, written.lResult);
    EXPECT_EQ(JaMsg::kFileOpenError, written.message);
    CloseHandle(hOther);
    EXPECT_EQ("held", FileBytes(path));
}

TEST_F(FileUtilities, ReadBinaryOfAMissingFile) {
    for (const wchar_t* name : {L"missing.bin", L"missing\\file.bin"}) {
        SCOPED_TRACE(testing::Message() << name);
        ReadOutcome read = Read(Scratch(name));
        EXPECT_EQ(E_FAIL, read.hr);
        EXPECT_EQ(-1, read.lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, read.message);
        EXPECT_EQ(VT_EMPTY, read.vt);
    }
}

TEST_F(FileUtilities, ShortReadIsAReadError) {
    // A kernel attribute file reports a whole page as its size but reads
    // back only a few bytes: the tail must not come back as zero bytes.
    const std::wstring path = L"Z:\\sys\\devices\\system\\cpu\\online";
    if (!Exists(path)) GTEST_SKIP() << "no /sys here";
    ReadOutcome read = Read(path);
    EXPECT_EQ(E_FAIL, read.hr);
    EXPECT_EQ(-1, read.lResult);
    EXPECT_EQ(JaMsg::kFileReadError, read.message);
    EXPECT_EQ(VT_EMPTY, read.vt);
}

TEST_F(FileUtilities, FailedWriteIsAWriteError) {
    // The full device opens like a file and refuses every byte.
    const std::wstring path = L"Z:\\dev\\full";
    HANDLE hDevice = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hDevice == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no /dev/full here";
    CloseHandle(hDevice);
    WriteOutcome written = Write(path, "bytes");
    EXPECT_EQ(S_OK, written.hr);
    EXPECT_EQ(-1, written.lResult);
    EXPECT_EQ(JaMsg::kFileWriteError, written.message);
}

TEST_F(FileUtilities, ReadAndWriteArgumentChecks) {
    const std::wstring path = Scratch(L"checked.bin");
    UniqueBstr filename(NewBstr(path));
    ByteArrayVariant array("bytes");
    RefusedArrays refused(array);

    struct Check {
        const char* label;
        VARIANT* pvarArray;
        BSTR bstrFilename;
        const wchar_t* message;
    };
    const Check checks[] = {
        {"null file name before the type", refused.text(), nullptr, JaMsg::kFileNameNull},
        {"string variant", refused.text(), filename.get(), JaMsg::kNotArrayType},
        {"by-reference byte array", refused.byRef(), filename.get(), JaMsg::kNotArrayType},
        {"byte array type without an array", refused.noArray(), filename.get(), JaMsg::kNotArrayType},
    };
    LONG lResult = 7;
    for (const Check& c : checks) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(E_FAIL, m_webmng.WriteBinary(c.pvarArray, c.bstrFilename, &lResult));
        EXPECT_EQ(c.message, Published());
        EXPECT_EQ(7, lResult);
    }
    VARIANT varOut;
    VariantInit(&varOut);
    EXPECT_EQ(E_FAIL, m_webmng.ReadBinary(nullptr, &varOut, &lResult));
    EXPECT_EQ(JaMsg::kFileNameNull, Published());
    EXPECT_EQ(7, lResult);

    // Null pointers: E_POINTER before anything else, nothing published or written.
    EXPECT_EQ(E_POINTER, m_webmng.ReadBinary(filename.get(), nullptr, &lResult));
    EXPECT_EQ(E_POINTER, m_webmng.ReadBinary(nullptr, &varOut, nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.WriteBinary(nullptr, filename.get(), &lResult));
    EXPECT_EQ(E_POINTER, m_webmng.WriteBinary(array.get(), filename.get(), nullptr));
    EXPECT_EQ(VT_EMPTY, varOut.vt);
    EXPECT_EQ(7, lResult);
    EXPECT_EQ(kNothing, Published());
    EXPECT_FALSE(Exists(path));

    // A refused lock: result already -1, no file made.
    SAFEARRAY* psa = array.get()->parray;
    USHORT usLocks = psa->cLocks;
    psa->cLocks = 0xFFFF;  // one more lock overflows the count
    EXPECT_EQ(E_FAIL, m_webmng.WriteBinary(array.get(), filename.get(), &lResult));
    psa->cLocks = usLocks;
    EXPECT_EQ(JaMsg::kSystemError, Published());
    EXPECT_EQ(-1, lResult);
    EXPECT_FALSE(Exists(path));
}

TEST_F(FileUtilities, DeleteFileResults) {
    enum Setup { kNoFile, kFile, kFolder, kFileHeldOpen };
    struct Case {
        const char* label;
        Setup setup;
        const wchar_t* name;  // nullptr: a null file name
        HRESULT hr;
        LONG lResult;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"existing file", kFile, L"a.txt", S_OK, 0, kNothing},
        {"missing file", kNoFile, L"b.txt", S_OK, -1, kNothing},
        {"missing directory", kNoFile, L"missing\\c.txt", E_FAIL, -2, JaMsg::kFileDeleteFailed},
        {"a folder", kFolder, L"d", E_FAIL, -2, JaMsg::kFileDeleteFailed},
        {"a file held open", kFileHeldOpen, L"e.txt", E_FAIL, -2, JaMsg::kFileDeleteFailed},
        {"null file name", kNoFile, nullptr, E_FAIL, -2, JaMsg::kFileNameNull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring path = Scratch(c.name ? c.name : L"");
        HANDLE hOther = INVALID_HANDLE_VALUE;
        if (c.setup == kFile || c.setup == kFileHeldOpen) ASSERT_TRUE(PutFile(path, "x"));
        if (c.setup == kFolder) ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        if (c.setup == kFileHeldOpen)
            hOther = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        UniqueBstr filename(c.name ? NewBstr(path) : nullptr);
        LONG lResult = 7;
        EXPECT_EQ(c.hr, m_webmng.DeleteFile(filename.get(), &lResult));
        EXPECT_EQ(c.lResult, lResult);
        EXPECT_EQ(c.message, Published());
        if (hOther != INVALID_HANDLE_VALUE) CloseHandle(hOther);
        if (c.name) EXPECT_EQ(c.setup != kNoFile && c.lResult != 0, Exists(path));
    }
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(FileUtilities, DeleteFileExResults) {
    struct Case {
        const char* label;
        std::vector<std::wstring> files;
        bool bNullPath;
        std::wstring pathTail;  // what follows the case's folder in the path argument
        const wchar_t* pattern;  // nullptr: a null name argument
        HRESULT hr;
        LONG lResult;
        const wchar_t* message;
        std::vector<std::wstring> remaining;
    };
    const Case cases[] = {
        {"three files", {L"a.tmp", L"b.tmp", L"c.tmp", L"keep.txt"}, false, L"\\", L"*.tmp", S_OK, 0, kNothing,
         {L"keep.txt"}},
        {"every file of the folder", {L"a.txt", L"b.bin"}, false, L"\\", L"*", S_OK, 0, kNothing, {}},
        {"nothing matches", {L"keep.txt"}, false, L"\\", L"*.tmp", S_OK, 0, kNothing, {L"keep.txt"}},
        {"missing folder", {L"keep.txt"}, false, L"\\missing\\", L"*", S_OK, 0, kNothing, {L"keep.txt"}},
        // Found names are joined to the path argument alone, so without its
        // separator they name files that do not exist.
        {"path without its separator", {L"a.txt", L"b.txt"}, false, L"", L"\\*.txt", S_OK, -1, kNothing,
         {L"a.txt", L"b.txt"}},
        {"pattern too long to form", {L"keep.txt"}, false, L"\\" + std::wstring(1100, L'p') + L"\\", L"*", S_OK, 0,
         kNothing, {L"keep.txt"}},
        {"null path", {L"keep.txt"}, true, L"", L"*", E_FAIL, -2, JaMsg::kPathNameNull, {L"keep.txt"}},
        {"null name", {L"keep.txt"}, false, L"\\", nullptr, E_FAIL, -2, JaMsg::kFileNameNull, {L"keep.txt"}},
        {"both null: the path first", {L"keep.txt"}, true, L"", nullptr, E_FAIL, -2, JaMsg::kPathNameNull,
         {L"keep.txt"}},
    };
    int iCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring folder = Scratch(L"case" + std::to_wstring(++iCase));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        for (const std::wstring& name : c.files) ASSERT_TRUE(PutFile(folder + L"\\" + name, "x"));
        UniqueBstr path(c.bNullPath ? nullptr : NewBstr(folder + c.pathTail));
        UniqueBstr pattern(c.pattern ? NewBstr(c.pattern) : nullptr);
        LONG lResult = 7;
        EXPECT_EQ(c.hr, m_webmng.DeleteFileEx(path.get(), pattern.get(), &lResult));
        EXPECT_EQ(c.lResult, lResult);
        EXPECT_EQ(c.message, Published());
        EXPECT_EQ(c.remaining, Sorted(SearchOrder(folder)));
    }
}

// Whether the search delivers matching files both before and after the
// folder m.dat.
bool FilesAroundTheFolder(const std::vector<std::wstring>& order) {
    auto folder = std::find(order.begin(), order.end(), L"m.dat");
    auto isDat = [](const std::wstring& name) {
        return name != L"m.dat" && name.size() > 4 && name.compare(name.size() - 4, 4, L".dat") == 0;
    };
    return folder != order.end() && std::any_of(order.begin(), folder, isDat) &&
           std::any_of(folder, order.end(), isDat);
}

TEST_F(FileUtilities, DeleteFileExStopsAtAMatchingFolder) {
    const std::wstring folder = Scratch(L"walk");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* name : {L"a.dat", L"b.dat", L"keep.txt", L"x.dat", L"y.dat"})
        ASSERT_TRUE(PutFile(folder + L"\\" + name, "x"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\m.dat").c_str(), nullptr));
    // The search delivers names in order here, so files come on both sides.
    ASSERT_TRUE(FilesAroundTheFolder(SearchOrder(folder)));
    // Entries the search delivers before the folder go; the folder and the
    // rest stay.
    std::vector<std::wstring> expected;
    bool bReached = false;
    for (const std::wstring& name : SearchOrder(folder)) {
        bReached = bReached || name == L"m.dat";
        if (bReached || name == L"keep.txt") expected.push_back(name);
    }

    UniqueBstr path(NewBstr(folder + L"\\"));
    UniqueBstr pattern(NewBstr(L"*.dat"));
    LONG lResult = 7;
    EXPECT_EQ(E_FAIL, m_webmng.DeleteFileEx(path.get(), pattern.get(), &lResult));
    EXPECT_EQ(0, lResult);
    EXPECT_EQ(JaMsg::kFileDeleteFailed, Published());
    EXPECT_EQ(Sorted(expected), Sorted(SearchOrder(folder)));
}

bool IsGuidText(const std::wstring& s) {
    if (s.size() != 36) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool bHyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const bool bHexDigit = (s[i] >= L'0' && s[i] <= L'9') || (s[i] >= L'a' && s[i] <= L'f');
        if (bHyphen ? s[i] != L'-' : !bHexDigit) return false;
    }
    return true;
}

TEST_F(FileUtilities, CreateGUIDGivesANewLowercaseGuidEachCall) {
    std::vector<std::wstring> seen;
    for (int i = 0; i < 3; ++i) {
        BSTR bstrGuid = reinterpret_cast<BSTR>(0x1);  // must be replaced
        EXPECT_EQ(S_OK, m_webmng.CreateGUID(&bstrGuid));
        ASSERT_NE(nullptr, bstrGuid);
        ASSERT_NE(reinterpret_cast<BSTR>(0x1), bstrGuid);
        std::wstring text(bstrGuid, SysStringLen(bstrGuid));
        SysFreeString(bstrGuid);
        EXPECT_TRUE(IsGuidText(text)) << text;
        EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), text)) << "repeated " << text;
        seen.push_back(text);
    }
    EXPECT_EQ(kNothing, Published());
}

TEST_F(FileUtilities, NullOutPointersComeFirst) {
    const std::wstring path = Scratch(L"x.txt");
    ASSERT_TRUE(PutFile(path, "x"));
    UniqueBstr name(NewBstr(path));
    UniqueBstr folder(NewBstr(Scratch()));
    UniqueBstr pattern(NewBstr(L"*"));
    EXPECT_EQ(E_POINTER, m_webmng.DeleteFile(name.get(), nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.DeleteFile(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.DeleteFileEx(folder.get(), pattern.get(), nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.DeleteFileEx(nullptr, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, m_webmng.CreateGUID(nullptr));
    EXPECT_EQ(kNothing, Published());
    EXPECT_TRUE(Exists(path)) << "deleted despite the null result pointer";
}
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WebMngEnvironment);
    return RUN_ALL_TESTS();
}

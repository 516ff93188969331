// ReadBinary, WriteBinary, DeleteFile, DeleteFileEx and CreateGUID on real
// files, with their results, statuses and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "file_method_fixture.h"
#include "import_patch.h"

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

// A device takes the bytes and keeps none: its name is refused as a target
// that cannot be opened, in any folder and with any extension; so is a pipe,
// whose server could act as the worker, and a stream of a file, which
// "x.asp::$DATA" names as x.asp itself.
TEST_F(FileUtilities, WriteBinaryIntoADeviceIsAnOpenError) {
    for (const std::wstring& target : {Scratch(L"nul.txt"), Scratch(L"NUL"), Scratch(L"con"), Scratch(L"COM1"),
                                       Scratch(L"lpt1.bin"), std::wstring(L"\\\\.\\NUL"),
                                       std::wstring(L"Z:\\dev\\full"), Scratch(L"x.asp::$DATA"),
                                       Scratch(L"a.txt:stream"), std::wstring(L"\\\\?\\pipe\\varo-test"),
                                       std::wstring(L"\\\\localhost\\pipe\\varo-test")}) {
        SCOPED_TRACE(std::string(target.begin(), target.end()));
        WriteOutcome written = Write(target, "bytes");
        EXPECT_EQ(S_OK, written.hr);
        EXPECT_EQ(-1, written.lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, written.message);
    }
    EXPECT_TRUE(SearchOrder(Scratch()).empty()) << "a file was made";
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
    // The disk fills up after the file was opened: no real input can do that.
    const std::wstring path = Scratch(L"full.bin");
    ImportPatch diskFull(GetModuleHandleW(nullptr), "kernel32.dll", "WriteFile",
                         reinterpret_cast<const void*>(&WriteFileDiskFull));
    ASSERT_TRUE(diskFull.Applied());
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
    std::vector<Check> checks = {
        {"null file name before the type", refused.text(), nullptr, JaMsg::kFileNameNull},
        {"string variant", refused.text(), filename.get(), JaMsg::kNotArrayType},
    };
    for (const RefusedArrays::Row& shape : refused.Shapes())
        checks.push_back({shape.label, shape.pvar, filename.get(), JaMsg::kNotArrayType});
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

// Every file under the folder, as paths relative to it, sorted.
std::vector<std::wstring> FilesUnder(const std::wstring& folder, const std::wstring& prefix = L"") {
    std::vector<std::wstring> files;
    for (const std::wstring& name : SearchOrder(folder)) {
        const std::wstring path = folder + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::wstring& inner : FilesUnder(path, prefix + name + L"\\")) files.push_back(inner);
        } else {
            files.push_back(prefix + name);
        }
    }
    return Sorted(files);
}

// Makes the file, and its folder first when the name has one.
void PutFileIn(const std::wstring& folder, const std::wstring& name) {
    const std::size_t iSeparator = name.rfind(L'\\');
    if (iSeparator != std::wstring::npos) CreateDirectoryW((folder + L"\\" + name.substr(0, iSeparator)).c_str(), nullptr);
    ASSERT_TRUE(PutFile(folder + L"\\" + name, "x"));
}

// Sets the process's current folder for a scope.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        GetCurrentDirectoryW(MAX_PATH, m_szSaved);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryW(m_szSaved); }

private:
    wchar_t m_szSaved[MAX_PATH];
};

TEST_F(FileUtilities, DeleteFileExResults) {
    enum PathArg { kFolderAndTail, kNullPath, kEmptyPath };
    struct Case {
        const char* label;
        std::vector<std::wstring> files;
        PathArg pathArg;
        std::wstring pathTail;  // what follows the case's folder in the path argument
        std::optional<std::wstring> pattern;  // nullopt: a null name argument
        HRESULT hr;
        LONG lResult;
        const wchar_t* message;
        std::vector<std::wstring> remaining;
    };
    const Case cases[] = {
        {"three files", {L"a.tmp", L"b.tmp", L"c.tmp", L"keep.txt"}, kFolderAndTail, L"\\", L"*.tmp", S_OK, 0,
         kNothing, {L"keep.txt"}},
        {"every file of the folder", {L"a.txt", L"b.bin"}, kFolderAndTail, L"\\", L"*", S_OK, 0, kNothing, {}},
        {"nothing matches", {L"keep.txt"}, kFolderAndTail, L"\\", L"*.tmp", S_OK, 0, kNothing, {L"keep.txt"}},
        {"missing folder", {L"keep.txt"}, kFolderAndTail, L"\\missing\\", L"*", S_OK, 0, kNothing, {L"keep.txt"}},
        // Each match is deleted where the search found it, whichever argument
        // its folder came from.
        {"path without its separator", {L"a.txt", L"b.txt"}, kFolderAndTail, L"", L"\\*.txt", S_OK, 0, kNothing, {}},
        {"path ending inside a name", {L"up_1.txt", L"upup_1.txt"}, kFolderAndTail, L"\\up", L"_1.txt", S_OK, 0,
         kNothing, {L"upup_1.txt"}},
        {"pattern with a folder", {L"a.tmp", L"keep.txt", L"sub\\a.tmp", L"sub\\b.tmp"}, kFolderAndTail, L"\\",
         L"sub\\*.tmp", S_OK, 0, kNothing, {L"a.tmp", L"keep.txt"}},
        {"pattern too long to form", {L"keep.txt"}, kFolderAndTail, L"\\" + std::wstring(1100, L'p') + L"\\", L"*",
         S_OK, 0, kNothing, {L"keep.txt"}},
        // No code page holds a snowman: as '?' it would match ab.txt.
        {"pattern the code page cannot spell", {L"ab.txt"}, kFolderAndTail, L"\\", L"a\u2603.txt", E_FAIL, -2,
         JaMsg::kFileDeleteFailed, {L"ab.txt"}},
        {"pattern with a zero character inside", {L"keep.txt"}, kFolderAndTail, L"\\",
         std::wstring(L"keep.txt\0*", 10), E_FAIL, -2,
         JaMsg::kFileDeleteFailed, {L"keep.txt"}},
        {"null path", {L"keep.txt"}, kNullPath, L"", L"*", E_FAIL, -2, JaMsg::kPathNameNull, {L"keep.txt"}},
        // Searched from the case's folder, an empty path would empty it.
        {"empty path", {L"keep.txt"}, kEmptyPath, L"", L"*", E_FAIL, -2, JaMsg::kPathNameNull, {L"keep.txt"}},
        {"null name", {L"keep.txt"}, kFolderAndTail, L"\\", std::nullopt, E_FAIL, -2, JaMsg::kFileNameNull,
         {L"keep.txt"}},
        {"both null: the path first", {L"keep.txt"}, kNullPath, L"", std::nullopt, E_FAIL, -2, JaMsg::kPathNameNull,
         {L"keep.txt"}},
    };
    int iCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring folder = Scratch(L"case" + std::to_wstring(++iCase));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        for (const std::wstring& name : c.files) PutFileIn(folder, name);
        UniqueBstr path(c.pathArg == kNullPath ? nullptr
                        : NewBstr(c.pathArg == kEmptyPath ? std::wstring() : folder + c.pathTail));
        UniqueBstr pattern(c.pattern ? NewBstr(*c.pattern) : nullptr);
        LONG lResult = 7;
        {
            CurrentFolder inside(folder);
            EXPECT_EQ(c.hr, m_webmng.DeleteFileEx(path.get(), pattern.get(), &lResult));
        }
        EXPECT_EQ(c.lResult, lResult);
        EXPECT_EQ(c.message, Published());
        EXPECT_EQ(c.remaining, FilesUnder(folder));
    }
}

// Paths that best-fit conversion would turn into another file's: the parent
// folder's secret.txt through "..\\" spelled with full-width dots and
// backslash (1252 has neither) or with yen signs (932 maps them to '\\'), and
// a name cut at a zero character. A code page that cannot spell the path
// exactly refuses it; none of them may reach secret.txt.
TEST_F(FileUtilities, PathsAreSpelledExactlyOrRefused) {
    struct Case {
        const char* label;
        std::wstring tail;   // after the scratch folder's "up\\"
        UINT uRefusedIn;     // the code page that cannot spell it; 0: every code page
    };
    const Case cases[] = {
        {"full-width dots and backslash", L"\uFF0E\uFF0E\uFF3Csecret.txt", 1252},
        {"yen signs", L"\u00A5..\u00A5secret.txt", 932},
        {"zero character inside", std::wstring(L"..\\secret.txt\0.bak", 18), 0},
    };
    const std::wstring secret = Scratch(L"secret.txt");
    ASSERT_TRUE(CreateDirectoryW(Scratch(L"up").c_str(), nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(PutFile(secret, "secret"));
        const bool bRefused = c.uRefusedIn == 0 || c.uRefusedIn == CodePage();
        const std::wstring path = Scratch(L"up\\" + c.tail);

        WriteOutcome written = Write(path, "overwritten");
        EXPECT_EQ("secret", FileBytes(secret));
        ReadOutcome read = Read(path);
        EXPECT_NE("secret", read.bytes);
        UniqueBstr filename(NewBstr(path));
        LONG lDeleted = 7;
        HRESULT hrDeleted = m_webmng.DeleteFile(filename.get(), &lDeleted);
        std::wstring deleteMessage = Published();
        EXPECT_EQ("secret", FileBytes(secret));
        if (!bRefused) continue;
        EXPECT_EQ(S_OK, written.hr);
        EXPECT_EQ(-1, written.lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, written.message);
        EXPECT_EQ(E_FAIL, read.hr);
        EXPECT_EQ(-1, read.lResult);
        EXPECT_EQ(JaMsg::kFileOpenError, read.message);
        EXPECT_EQ(E_FAIL, hrDeleted);
        EXPECT_EQ(-2, lDeleted);
        EXPECT_EQ(JaMsg::kFileDeleteFailed, deleteMessage);
        EXPECT_TRUE(SearchOrder(Scratch(L"up")).empty()) << "a file was made under another name";
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

// Stands in for UuidToStringA when the text cannot be allocated.
RPC_STATUS RPC_ENTRY UuidToStringOutOfMemory(const UUID*, RPC_CSTR* ppszText) {
    *ppszText = nullptr;
    return RPC_S_OUT_OF_MEMORY;
}

TEST_F(FileUtilities, CreateGUIDWithoutItsTextFails) {
    ImportPatch noText(GetModuleHandleW(nullptr), "rpcrt4.dll", "UuidToStringA",
                       reinterpret_cast<const void*>(&UuidToStringOutOfMemory));
    ASSERT_TRUE(noText.Applied());
    BSTR bstrGuid = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(E_FAIL, m_webmng.CreateGUID(&bstrGuid));
    EXPECT_EQ(nullptr, bstrGuid);
    EXPECT_EQ(JaMsg::kGuidError, Published());
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

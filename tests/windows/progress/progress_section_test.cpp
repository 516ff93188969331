// The named section: who may open it, that the reader's view cannot write,
// that a section of the name owned by another account is left alone by the
// writer and read as unknown, and which ids are refused before any name is
// made.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/win32_owners.h"
#include "progress/progress_section.h"
#include "progress_test_support.h"

namespace {

// The user of the token the thread acts with, asked of the system directly.
std::vector<BYTE> TokenUserSid() {
    HANDLE hToken = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &hToken))
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken));
    BYTE ab[256];
    DWORD cb = 0;
    EXPECT_TRUE(GetTokenInformation(hToken, TokenUser, ab, sizeof ab, &cb));
    CloseHandle(hToken);
    PSID pSid = reinterpret_cast<TOKEN_USER*>(ab)->User.Sid;
    const BYTE* pb = static_cast<const BYTE*>(pSid);
    return std::vector<BYTE>(pb, pb + GetLengthSid(pSid));
}

std::vector<BYTE> SidBytes(PSID pSid) {
    const BYTE* pb = static_cast<const BYTE*>(pSid);
    return std::vector<BYTE>(pb, pb + GetLengthSid(pSid));
}

std::vector<BYTE> AdministratorsSidBytes() {
    BYTE ab[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof ab;
    EXPECT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, ab, &cb));
    return std::vector<BYTE>(ab, ab + cb);
}

using Grant = std::pair<std::vector<BYTE>, ACCESS_MASK>;

// The section's owner and allowed entries, as another handle to it sees them.
void SectionSecurity(const std::wstring& strName, std::vector<BYTE>* pOwnerSid, std::set<Grant>* pGrants,
                     int* pnOtherAces) {
    UniqueKernelHandle section(OpenFileMappingW(READ_CONTROL | FILE_MAP_READ, FALSE, strName.c_str()));
    ASSERT_TRUE(section) << GetLastError();
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    UniqueLocalBlock descriptor;
    ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(section.get(), SE_KERNEL_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, nullptr,
                                             &pDacl, nullptr, descriptor.put()));
    ASSERT_NE(nullptr, pOwner);
    ASSERT_NE(nullptr, pDacl) << "a null DACL lets everyone in";
    *pOwnerSid = SidBytes(pOwner);
    *pnOtherAces = 0;
    for (DWORD i = 0; i < pDacl->AceCount; ++i) {
        void* pvAce = nullptr;
        ASSERT_TRUE(GetAce(pDacl, i, &pvAce));
        const ACE_HEADER* pHeader = static_cast<ACE_HEADER*>(pvAce);
        if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            ++*pnOtherAces;
            continue;
        }
        ACCESS_ALLOWED_ACE* pAce = static_cast<ACCESS_ALLOWED_ACE*>(pvAce);
        pGrants->insert(Grant(SidBytes(&pAce->SidStart), pAce->Mask));
    }
}

// Whether the calling thread impersonates while the section is made.
struct ThreadIdentity {
    const char* pszWhat;
    bool bImpersonate;
};

TEST(ProgressSection, OnlyTheAccountAndAdministratorsMayOpenIt) {
    const ThreadIdentity identities[] = {{"the process's account", false}, {"a thread impersonating", true}};
    for (const ThreadIdentity& identity : identities) {
        SCOPED_TRACE(identity.pszWhat);
        if (identity.bImpersonate) ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation)) << GetLastError();
        const std::vector<BYTE> user = TokenUserSid();
        const std::wstring strId = TestId(L"acl");
        ProgressWriter writer;
        const ProgressWriter::Status status = Begin(writer, strId, 10);
        std::vector<BYTE> owner;
        std::set<Grant> grants;
        int nOtherAces = -1;
        if (status == ProgressWriter::Status::kOk) SectionSecurity(SectionName(strId), &owner, &grants, &nOtherAces);
        if (identity.bImpersonate) RevertToSelf();
        ASSERT_EQ(ProgressWriter::Status::kOk, status) << writer.SystemError();

        EXPECT_EQ(user, owner);
        const std::set<Grant> expected = {
            Grant(user, SECTION_ALL_ACCESS),
            Grant(AdministratorsSidBytes(), SECTION_MAP_READ | SECTION_QUERY | READ_CONTROL),
        };
        EXPECT_EQ(expected, grants);
        EXPECT_EQ(0, nOtherAces);
        ProgressReport report;
        EXPECT_EQ(ProgressReadStatus::kOk, Read(strId, &report));
        EXPECT_EQ(10u, report.record.cbTotal);
    }
}

TEST(ProgressSection, TheReadersViewCannotWrite) {
    const std::wstring strId = TestId(L"view");
    ProgressWriter writer;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strId, 10));
    const std::u16string strName = Utf16(SectionName(strId));
    UniqueKernelHandle section;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenProgressSection(strName.c_str(), &section));
    UniqueMappedView view;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), MapProgressSection(section.get(), false, &view));
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(0u, VirtualQuery(view.get(), &info, sizeof info));
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), info.Protect);
    UniqueMappedView writable;
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), MapProgressSection(section.get(), true, &writable))
        << "the reader's handle grants reading only";
    EXPECT_FALSE(writable);
}

TEST(ProgressSection, ASectionOfTheNameThatAnotherOwnsIsLeftAlone) {
    const std::wstring strId = TestId(L"squat");
    // Made first under the name, open to anyone, owned by Administrators
    // rather than the account: as another account of the machine could.
    BYTE abAdministrators[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof abAdministrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, abAdministrators, &cb));
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, abAdministrators, FALSE));
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    UniqueKernelHandle squatter(
        CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4096, SectionName(strId).c_str()));
    if (!squatter) GTEST_SKIP() << "this system does not let the account give a section to Administrators";
    PSID pOwner = nullptr;
    UniqueLocalBlock descriptor;
    ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(squatter.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner,
                                             nullptr, nullptr, nullptr, descriptor.put()));
    if (!EqualSid(pOwner, abAdministrators)) GTEST_SKIP() << "the section's owner stayed the account";

    ProgressWriter writer;
    EXPECT_EQ(ProgressWriter::Status::kDenied, Begin(writer, strId, 10));
    writer.Advance(100);
    writer.Finish(ProgressState::kDone, nullptr, 0);
    UniqueMappedView view(MapViewOfFile(squatter.get(), FILE_MAP_READ, 0, 0, 4096));
    ASSERT_TRUE(view);
    const BYTE* pb = view.as<BYTE>();
    EXPECT_EQ(4096, std::count(pb, pb + 4096, 0)) << "nothing was written into it";
}

// A SID in its binary form, from the system's own string form of it.
std::vector<BYTE> SidOf(const wchar_t* pszSid) {
    PSID pSid = nullptr;
    if (!ConvertStringSidToSidW(pszSid, &pSid)) return {};
    std::vector<BYTE> bytes = SidBytes(pSid);
    LocalFree(pSid);
    return bytes;
}

struct ForgedCase {
    const char* pszWhat;
    std::vector<BYTE> owner;  // empty: the account's
    ProgressReadStatus status;
};

// A whole record of the layout, an upload ended done, in a section of the
// id's name made first and open to anyone: what an account that got there
// first could show the id's pages. Only one the reader's account owns is
// read; the row of its own shows the record itself would read.
TEST(ProgressSection, ARecordInASectionAnotherOwnsReadsAsUnknown) {
    const ForgedCase cases[] = {
        {"owned by Administrators", AdministratorsSidBytes(), ProgressReadStatus::kDenied},
        {"owned by the system's account", SidOf(L"S-1-5-18"), ProgressReadStatus::kDenied},
        {"owned by another user", SidOf(L"S-1-5-21-1004336348-1177238915-682003330-1013"),
         ProgressReadStatus::kDenied},
        {"owned by the account", {}, ProgressReadStatus::kOk},
    };
    for (const ForgedCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        const std::wstring strId = TestId(L"forged");
        SECURITY_DESCRIPTOR sd;
        ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
        std::vector<BYTE> owner = c.owner.empty() ? TokenUserSid() : c.owner;
        ASSERT_TRUE(IsValidSid(owner.data()));
        ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, owner.data(), FALSE));
        SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
        UniqueKernelHandle forger(CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0,
                                                     sizeof(ProgressRecord), SectionName(strId).c_str()));
        ASSERT_TRUE(forger) << GetLastError();
        PSID pOwner = nullptr;
        UniqueLocalBlock descriptor;
        ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(forger.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                                 &pOwner, nullptr, nullptr, nullptr, descriptor.put()));
        ASSERT_EQ(owner, SidBytes(pOwner)) << "the section's owner";

        UniqueMappedView view(MapViewOfFile(forger.get(), FILE_MAP_WRITE, 0, 0, sizeof(ProgressRecord)));
        ASSERT_TRUE(view);
        ProgressRecord forged{};
        forged.nMagic = kProgressMagic;
        forged.cbRecord = sizeof(ProgressRecord);
        forged.nState = static_cast<std::uint32_t>(ProgressState::kDone);
        forged.cbRead = forged.cbTotal = 777;
        forged.nFilesDone = 3;
        forged.cchFile = CopyProgressText(forged.szFile, kcchProgressFile, u"forged.exe", 10);
        PublishRecord(view.as<ProgressShared>(), forged, true);

        ProgressReport report;
        EXPECT_EQ(c.status, Read(strId, &report));
        if (c.status == ProgressReadStatus::kOk) {
            EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kDone), report.record.nState);
            EXPECT_EQ(777u, report.record.cbRead);
            EXPECT_EQ(L"forged.exe", Text(report.record.szFile));
        } else {
            EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kUnknown), report.record.nState);
            EXPECT_EQ(0u, report.record.cbRead);
            EXPECT_EQ(0u, report.record.nFilesDone);
            EXPECT_EQ(L"", Text(report.record.szFile));
            EXPECT_EQ(L"unknown", Text(ProgressStateName(static_cast<ProgressState>(report.record.nState))));
        }
    }
}

TEST(ProgressSection, BadIdsAreRefusedBeforeAnyNameIsMade) {
    const std::wstring bad[] = {L"", std::wstring(65, L'a'), L"a.b", L"a b", L"..", L"a\\b", L"Global\\a",
                                std::wstring(L"a\0b", 3), L"\u3042"};
    for (const std::wstring& strId : bad) {
        SCOPED_TRACE(testing::Message() << "id of " << strId.size() << " units");
        ProgressWriter writer;
        EXPECT_EQ(ProgressWriter::Status::kBadId, Begin(writer, strId, 10));
        EXPECT_FALSE(writer.Active());
        const std::wstring strName = L"Local\\VARO.Progress." + std::wstring(strId.c_str());
        EXPECT_EQ(nullptr, OpenFileMappingW(FILE_MAP_READ, FALSE, strName.c_str())) << "a section was made";
        ProgressReport report;
        std::memset(&report, 0x5A, sizeof report);
        EXPECT_EQ(ProgressReadStatus::kBadId, Read(strId, &report));
        EXPECT_EQ(static_cast<std::uint32_t>(ProgressState::kUnknown), report.record.nState);
        EXPECT_EQ(0u, report.record.cbRead);
        EXPECT_EQ(u'\0', report.record.szFile[0]);
        EXPECT_EQ(-1.0, report.figures.dblRemainingSeconds);
    }
    ProgressReport report;
    EXPECT_EQ(ProgressReadStatus::kBadId, ReadProgress(nullptr, 4, &report));
    ProgressWriter writer;
    EXPECT_EQ(ProgressWriter::Status::kBadId, writer.Begin(nullptr, 4, 10));
}

TEST(ProgressSection, IdsCompareWithoutCaseAndUpTo64Characters) {
    const std::wstring strSerial = TestId(L"");
    const std::wstring strLong = strSerial + std::wstring(64 - strSerial.size(), L'Q');
    ProgressWriter writer;
    ASSERT_EQ(ProgressWriter::Status::kOk, Begin(writer, strLong, 64));
    std::wstring strLower = strLong;
    for (wchar_t& ch : strLower) ch = static_cast<wchar_t>(towlower(ch));
    ProgressReport report;
    EXPECT_EQ(ProgressReadStatus::kOk, Read(strLower, &report));
    EXPECT_EQ(64u, report.record.cbTotal);
}

}  // namespace

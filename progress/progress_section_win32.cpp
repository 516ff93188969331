#include "progress/progress_section.h"

#include <aclapi.h>

#include "progress/progress_record.h"

namespace {
// Everything the descriptor points into, in one place for its lifetime.
struct SectionSecurity {
    AccountSid account;
    AccountSid administrators;
    alignas(4) BYTE abAcl[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + kcbMaxSid)];
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
};

DWORD BuildSectionSecurity(SectionSecurity* p) {
    const DWORD dwError = EffectiveAccountSid(&p->account);
    if (dwError != ERROR_SUCCESS) return dwError;
    AdministratorsSid(&p->administrators);
    PACL pAcl = reinterpret_cast<PACL>(p->abAcl);
    if (!InitializeAcl(pAcl, sizeof p->abAcl, ACL_REVISION) ||
        !AddAccessAllowedAce(pAcl, ACL_REVISION, kdwAccountSectionAccess, p->account.get()) ||
        !AddAccessAllowedAce(pAcl, ACL_REVISION, kdwAdministratorsSectionAccess, p->administrators.get()) ||
        !InitializeSecurityDescriptor(&p->sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&p->sd, p->account.get(), FALSE) ||
        !SetSecurityDescriptorDacl(&p->sd, TRUE, pAcl, FALSE))
        return GetLastError();
    p->sa.nLength = sizeof p->sa;
    p->sa.lpSecurityDescriptor = &p->sd;
    p->sa.bInheritHandle = FALSE;
    return ERROR_SUCCESS;
}

// A section of the name made beforehand by another account would take the
// upload's file names to it, or feed a reader its figures: only the caller's
// own is used.
DWORD CheckOwner(HANDLE hSection, PSID pAccount) {
    PSID pOwner = nullptr;
    UniqueLocalBlock descriptor;
    const DWORD dwError = GetSecurityInfo(hSection, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr,
                                          nullptr, nullptr, descriptor.put());
    if (dwError != ERROR_SUCCESS) return dwError;
    return pOwner && EqualSid(pOwner, pAccount) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}
}  // namespace

DWORD EffectiveAccountSid(AccountSid* pSid) {
    UniqueKernelHandle token;
    // As self: the thread's own account may not be allowed to read its token.
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_NO_TOKEN) return dwError;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return GetLastError();
    }
    union {
        TOKEN_USER user;
        BYTE ab[sizeof(TOKEN_USER) + kcbMaxSid];
    } info;
    DWORD cb = 0;
    if (!GetTokenInformation(token.get(), TokenUser, &info, sizeof info, &cb)) return GetLastError();
    if (!CopySid(kcbMaxSid, pSid->get(), info.user.User.Sid)) return GetLastError();
    return ERROR_SUCCESS;
}

void AdministratorsSid(AccountSid* pSid) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    InitializeSid(pSid->get(), &ntAuthority, 2);
    *GetSidSubAuthority(pSid->get(), 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *GetSidSubAuthority(pSid->get(), 1) = DOMAIN_ALIAS_RID_ADMINS;
}

DWORD CreateProgressSection(const char16_t* pszName, UniqueKernelHandle* phSection) {
    SectionSecurity security;
    DWORD dwError = BuildSectionSecurity(&security);
    if (dwError != ERROR_SUCCESS) return dwError;
    HANDLE hSection = CreateFileMappingW(INVALID_HANDLE_VALUE, &security.sa, PAGE_READWRITE, 0,
                                         sizeof(ProgressRecord), WideName(pszName));
    dwError = GetLastError();
    if (!hSection) return dwError;
    UniqueKernelHandle section(hSection);
    if (dwError == ERROR_ALREADY_EXISTS) {
        dwError = CheckOwner(hSection, security.account.get());
        if (dwError != ERROR_SUCCESS) return dwError;
    }
    *phSection = static_cast<UniqueKernelHandle&&>(section);
    return ERROR_SUCCESS;
}

DWORD OpenProgressSection(const char16_t* pszName, UniqueKernelHandle* phSection) {
    AccountSid account;
    DWORD dwError = EffectiveAccountSid(&account);
    if (dwError != ERROR_SUCCESS) return dwError;
    HANDLE hSection = OpenFileMappingW(FILE_MAP_READ | READ_CONTROL, FALSE, WideName(pszName));
    if (!hSection) return GetLastError();
    UniqueKernelHandle section(hSection);
    dwError = CheckOwner(hSection, account.get());
    if (dwError != ERROR_SUCCESS) return dwError;
    *phSection = static_cast<UniqueKernelHandle&&>(section);
    return ERROR_SUCCESS;
}

DWORD MapProgressSection(HANDLE hSection, bool bWrite, UniqueMappedView* pView) {
    void* pv = MapViewOfFile(hSection, bWrite ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, sizeof(ProgressRecord));
    if (!pv) return GetLastError();
    pView->reset(pv);
    return ERROR_SUCCESS;
}

// The named section that carries one id's record. It is made with a
// descriptor that lets only the account the caller acts as open it (and
// administrators read it), so pages of other sites' accounts can neither
// read an upload's file names nor write its figures.
#pragma once
#include <windows.h>

#include "platform/win32_owners.h"

constexpr DWORD kcbMaxSid = 68;
struct AccountSid {
    alignas(4) BYTE ab[kcbMaxSid];
    PSID get() { return ab; }
};

// The user of the calling thread's impersonation token, or of the process's
// when the thread does not impersonate: ERROR_SUCCESS or why not.
DWORD EffectiveAccountSid(AccountSid* pSid);
void AdministratorsSid(AccountSid* pSid);

constexpr DWORD kdwAccountSectionAccess = SECTION_ALL_ACCESS;
constexpr DWORD kdwAdministratorsSectionAccess = SECTION_MAP_READ | SECTION_QUERY | READ_CONTROL;

inline const wchar_t* WideName(const char16_t* psz) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
    return reinterpret_cast<const wchar_t*>(psz);
}

// Creates the section, or opens the one of that name when the caller's
// account owns it (ERROR_ACCESS_DENIED when another account does).
DWORD CreateProgressSection(const char16_t* pszName, UniqueKernelHandle* phSection);
// Opens it for reading only: ERROR_FILE_NOT_FOUND when there is none,
// ERROR_ACCESS_DENIED when another account owns it.
DWORD OpenProgressSection(const char16_t* pszName, UniqueKernelHandle* phSection);
// A view of the record, writable or read-only.
DWORD MapProgressSection(HANDLE hSection, bool bWrite, UniqueMappedView* pView);

#include "uploadedfile/leftovers.h"

#include <cstdint>

#include "platform/module_heap.h"
#include "platform/sweep_schedule.h"
#include "uploadedfile/save_file.h"

namespace {

bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

bool IsLowerHex(wchar_t ch) { return (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f'); }

// Saves into a folder of many files do not look through it each time.
SweepSchedule g_schedule;

}  // namespace

bool IsLeftoverName(const wchar_t* pszName) {
    static const wchar_t kPrefix[] = L"varo-";
    for (int i = 0; i < 5; ++i)
        if (pszName[i] != kPrefix[i]) return false;
    const wchar_t* pchGuid = pszName + 5;
    for (int i = 0; i < 36; ++i) {
        const bool bHyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (bHyphen ? pchGuid[i] != L'-' : !IsLowerHex(pchGuid[i])) return false;
    }
    return lstrcmpW(pchGuid + 36, L".tmp") == 0;
}

void SweepLeftovers(const wchar_t* pchFolder, UINT cchFolder) {
    if (cchFolder == 0 || !g_schedule.Due(pchFolder, cchFolder)) return;
    static const wchar_t kPattern[] = L"\\varo-*.tmp";
    const UINT cchBase = cchFolder - (IsSeparator(pchFolder[cchFolder - 1]) ? 1 : 0);
    // The folder, a separator and the longest name a leftover has.
    const std::size_t cchPath = cchBase + 1 + 5 + 36 + 4 + 1;
    ModuleBlock path(ModuleAlloc(cchPath * sizeof(wchar_t)));
    if (!path) return;
    wchar_t* pszPath = path.as<wchar_t>();
    for (UINT i = 0; i < cchBase; ++i) pszPath[i] = pchFolder[i];
    lstrcpyW(pszPath + cchBase, kPattern);
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileExW(pszPath, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        const DWORD dwAttributes = found.dwFileAttributes;
        if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) || !(dwAttributes & FILE_ATTRIBUTE_HIDDEN) ||
            !IsLeftoverName(found.cFileName))
            continue;
        lstrcpyW(pszPath + cchBase + 1, found.cFileName);
        // Fails for one a live worker holds: those are never shared.
        DeleteFileW(pszPath);
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
}

void SweepLeftoversBeside(const wchar_t* pszFullPath) { SweepLeftovers(pszFullPath, FolderLength(pszFullPath)); }

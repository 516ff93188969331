#include "uploadedfile/leftovers.h"

#include <cstdint>

#include "platform/module_heap.h"
#include "uploadedfile/save_file.h"

namespace {

constexpr DWORD kmsBetweenSweeps = 60 * 1000;
constexpr int kSweptFolders = 16;

bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

bool IsLowerHex(wchar_t ch) { return (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f'); }

// The folders swept lately, by a hash of their path in upper case: a save
// into a folder of many files does not look through it each time.
struct Swept {
    std::uint64_t hash;
    DWORD dwTick;
};
LONG volatile g_lSweptLock = 0;  // a spin lock: held for a few compares, and needs no setting up
Swept g_swept[kSweptFolders];

std::uint64_t FolderHash(const wchar_t* pch, UINT cch) {
    while (cch > 0 && IsSeparator(pch[cch - 1])) --cch;
    std::uint64_t hash = 14695981039346656037ull;
    for (UINT i = 0; i < cch; ++i) {
        wchar_t ch = pch[i] == L'/' ? L'\\' : pch[i];
        if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - L'a' + L'A');
        hash = (hash ^ static_cast<std::uint16_t>(ch)) * 1099511628211ull;
    }
    return hash;
}

// Whether the folder is due; if so it counts as swept from now.
bool Due(std::uint64_t hash) {
    const DWORD dwNow = GetTickCount();
    while (InterlockedExchange(&g_lSweptLock, 1) != 0) Sleep(0);
    int iOldest = 0;
    bool bDue = true;
    for (int i = 0; i < kSweptFolders; ++i) {
        if (g_swept[i].hash == hash && g_swept[i].dwTick != 0) {
            bDue = dwNow - g_swept[i].dwTick >= kmsBetweenSweeps;
            iOldest = i;
            break;
        }
        if (g_swept[i].dwTick == 0 || dwNow - g_swept[i].dwTick > dwNow - g_swept[iOldest].dwTick) iOldest = i;
    }
    if (bDue) g_swept[iOldest] = Swept{hash, dwNow ? dwNow : 1};
    InterlockedExchange(&g_lSweptLock, 0);
    return bDue;
}

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
    if (cchFolder == 0 || !Due(FolderHash(pchFolder, cchFolder))) return;
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

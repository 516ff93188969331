#include "platform/module_state.h"

#include "platform/module_heap.h"
#include "platform/module_object.h"

ModuleState g_ModuleState;

namespace {
// Set between a successful InitModule and TermModule, so a detach that follows
// a failed attach (or a second detach) does not delete the locks twice.
bool g_bModuleLive = false;
PFNUNLOADSWEEP g_pfnUnloadSweep = nullptr;

PlatformFacts QueryPlatformFacts() {
    OSVERSIONINFOA osvi;
    ZeroMemory(&osvi, sizeof osvi);
    osvi.dwOSVersionInfoSize = sizeof osvi;
    GetVersionExA(&osvi);  // a failed query leaves zeros: not NT 5
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return PlatformFacts{osvi.dwPlatformId, osvi.dwMajorVersion, si.dwNumberOfProcessors};
}

DWORD HeapMaskFor(DWORD dwProcessors) {
    DWORD dwMask = 0xFFFFFFFFu;
    DWORD v = 2 * dwProcessors;
    for (int i = 0; i < 32; ++i) {
        if (v & 0x80000000u) break;
        v <<= 1;
        dwMask >>= 1;
    }
    return dwMask >> 1;
}

void DestroyProcessorHeaps(DWORD dwMade) {
    for (DWORD i = 0; i < dwMade; ++i) HeapDestroy(g_ModuleState.phProcessorHeaps[i]);
    HeapFree(g_ModuleState.hBaseHeap, 0, g_ModuleState.phProcessorHeaps);
    g_ModuleState.phProcessorHeaps = nullptr;
    g_ModuleState.dwHeapMask = 0;
}

// Per-processor heaps served multi-processor systems before NT 5, whose heap
// lock was a bottleneck; no system this runs on today takes this path, but
// servers of this kind keep it. Without all of them the module runs on the
// base heap.
void CreateProcessorHeaps(const PlatformFacts& facts) {
    DWORD dwCount = ProcessorHeapCount(facts);
    if (dwCount == 0) return;
    g_ModuleState.dwHeapMask = dwCount - 1;
    g_ModuleState.phProcessorHeaps = static_cast<HANDLE*>(HeapAlloc(g_ModuleState.hBaseHeap, 0, dwCount * sizeof(HANDLE)));
    if (!g_ModuleState.phProcessorHeaps) {
        g_ModuleState.dwHeapMask = 0;
        return;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        g_ModuleState.phProcessorHeaps[i] = HeapCreate(0, 0, 0);
        if (!g_ModuleState.phProcessorHeaps[i]) {
            DestroyProcessorHeaps(i);
            return;
        }
    }
}
}  // namespace

DWORD ProcessorHeapCount(const PlatformFacts& facts) {
    if (facts.dwPlatformId == VER_PLATFORM_WIN32_NT && facts.dwMajorVersion >= 5) return 0;
    if (facts.dwNumberOfProcessors <= 1) return 0;
    return HeapMaskFor(facts.dwNumberOfProcessors) + 1;
}

HRESULT InitModule(ClassTableEntry* pClassTable, HINSTANCE hInstance, const PlatformFacts* pFacts) {
    g_ModuleState.pClassTable = pClassTable;
    g_ModuleState.hInstance = hInstance;
    g_ModuleState.hTypeLibModule = hInstance;
    g_ModuleState.lLockCount = 0;
    g_ModuleState.hBaseHeap = nullptr;
    InitializeCriticalSection(&g_ModuleState.csTypeInfo);
    InitializeCriticalSection(&g_ModuleState.csClassTable);
    g_ModuleState.dwHeapMask = 0;
    g_ModuleState.dwNextHeap = 0;
    g_ModuleState.phProcessorHeaps = nullptr;
    g_ModuleState.pCleanupList = nullptr;
    g_bModuleLive = true;
    for (ClassTableEntry* pEntry = pClassTable; pEntry && pEntry->pClassId; ++pEntry)
        if (pEntry->pfnClassInit) pEntry->pfnClassInit(TRUE);

    g_ModuleState.hBaseHeap = HeapCreate(0, 0, 0);
    if (!g_ModuleState.hBaseHeap) {
        TermModule();
        return E_OUTOFMEMORY;
    }
    CreateProcessorHeaps(pFacts ? *pFacts : QueryPlatformFacts());
    return S_OK;
}

HRESULT TermModule() {
    if (!g_bModuleLive) return S_OK;
    g_bModuleLive = false;
    for (ClassTableEntry* pEntry = g_ModuleState.pClassTable; pEntry && pEntry->pClassId; ++pEntry) {
        if (pEntry->pClassObject) pEntry->pClassObject->Release();
        pEntry->pClassObject = nullptr;
        if (pEntry->pfnClassInit) pEntry->pfnClassInit(FALSE);
    }
    DeleteCriticalSection(&g_ModuleState.csTypeInfo);
    DeleteCriticalSection(&g_ModuleState.csClassTable);

    CleanupEntry* pEntry = g_ModuleState.pCleanupList;
    g_ModuleState.pCleanupList = nullptr;
    while (pEntry) {
        pEntry->pfnCleanup(pEntry->dwArgument);
        CleanupEntry* pNext = pEntry->pNext;
        ModuleFree(pEntry);
        pEntry = pNext;
    }

    if (g_ModuleState.hBaseHeap) {
        if (g_ModuleState.phProcessorHeaps)
            for (DWORD i = 0; i <= g_ModuleState.dwHeapMask; ++i) HeapDestroy(g_ModuleState.phProcessorHeaps[i]);
        HeapDestroy(g_ModuleState.hBaseHeap);
    }
    g_ModuleState.hBaseHeap = nullptr;
    g_ModuleState.phProcessorHeaps = nullptr;
    g_ModuleState.dwHeapMask = 0;
    return S_OK;
}

LONG LockModule() { return InterlockedIncrement(&g_ModuleState.lLockCount); }
LONG UnlockModule() { return InterlockedDecrement(&g_ModuleState.lLockCount); }

void SetUnloadSweep(PFNUNLOADSWEEP pfnSweep) { PublishPointer(&g_pfnUnloadSweep, pfnSweep); }

STDAPI DllCanUnloadNow() {
    PFNUNLOADSWEEP pfnSweep = ReadPublished(&g_pfnUnloadSweep);
    if (pfnSweep) pfnSweep();
    return g_ModuleState.lLockCount == 0 ? S_OK : S_FALSE;
}

HRESULT AddCleanup(PFNCLEANUP pfnCleanup, DWORD_PTR dwArgument) {
    CleanupEntry* pEntry = static_cast<CleanupEntry*>(ModuleAlloc(sizeof(CleanupEntry)));
    if (!pEntry) return E_OUTOFMEMORY;
    pEntry->pfnCleanup = pfnCleanup;
    pEntry->dwArgument = dwArgument;
    EnterCriticalSection(&g_ModuleState.csTypeInfo);
    pEntry->pNext = g_ModuleState.pCleanupList;
    g_ModuleState.pCleanupList = pEntry;
    LeaveCriticalSection(&g_ModuleState.csTypeInfo);
    return S_OK;
}

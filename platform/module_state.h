// The module-wide record that lives from process attach to process detach.
#pragma once
#include <windows.h>

#include "platform/class_table.h"

typedef void (*PFNCLEANUP)(DWORD_PTR dwArgument);

struct CleanupEntry {
    PFNCLEANUP pfnCleanup;
    DWORD_PTR dwArgument;
    CleanupEntry* pNext;
};

struct ModuleState {
    HINSTANCE hInstance;
    HINSTANCE hTypeLibModule;
    ClassTableEntry* pClassTable;
    LONG lLockCount;
    HANDLE hBaseHeap;
    CRITICAL_SECTION csTypeInfo;
    CRITICAL_SECTION csClassTable;
    DWORD dwHeapMask;
    HANDLE* phProcessorHeaps;
    DWORD dwNextHeap;
    CleanupEntry* pCleanupList;
};

extern ModuleState g_ModuleState;

// What the heap choice depends on. The entry point passes null and the
// system is asked; tests pass the platforms and processor counts Wine never
// reports.
struct PlatformFacts {
    DWORD dwPlatformId;
    DWORD dwMajorVersion;
    DWORD dwNumberOfProcessors;
};

// E_OUTOFMEMORY when the base heap cannot be created: the module cannot run
// and the load must fail. Everything made so far has then been released.
HRESULT InitModule(ClassTableEntry* pClassTable, HINSTANCE hInstance, const PlatformFacts* pFacts = nullptr);
HRESULT TermModule();

LONG LockModule();
LONG UnlockModule();
HRESULT AddCleanup(PFNCLEANUP pfnCleanup, DWORD_PTR dwArgument);

// Run by DllCanUnloadNow before it counts the locks, so that a part of the
// module that locks it only for a while (the kept progress of ended uploads)
// can let go once that while has passed. One at a time; null for none.
typedef void (*PFNUNLOADSWEEP)();
void SetUnloadSweep(PFNUNLOADSWEEP pfnSweep);

// Number of per-processor heaps for a platform, 0 for the base heap alone.
DWORD ProcessorHeapCount(const PlatformFacts& facts);

STDAPI DllCanUnloadNow();

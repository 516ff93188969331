// Blocks a heap holds now: what the tests compare before and after a call to
// prove that nothing was left allocated.
#pragma once
#include <windows.h>

inline long HeapBusyBlocks(HANDLE hHeap) {
    long lBusy = 0;
    PROCESS_HEAP_ENTRY entry;
    entry.lpData = nullptr;
    HeapLock(hHeap);
    while (HeapWalk(hHeap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++lBusy;
    HeapUnlock(hHeap);
    return lBusy;
}

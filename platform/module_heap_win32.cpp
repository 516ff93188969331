// Module heap: the base heap alone, or per-processor heaps picked round-robin
// with a header naming the heap each block came from.
#include "platform/module_heap.h"

#include "platform/module_state.h"

namespace {
// The header holds the owning heap's handle and is as long as the alignment
// HeapAlloc guarantees (8 bytes on x86, 16 on x64), so the block after it
// keeps that alignment.
constexpr SIZE_T kHeaderSize = MEMORY_ALLOCATION_ALIGNMENT;
static_assert(sizeof(HANDLE) <= kHeaderSize, "the header holds a heap handle");

HANDLE OwningHeap(void* pvBlock) { return *reinterpret_cast<HANDLE*>(static_cast<BYTE*>(pvBlock) - kHeaderSize); }
}  // namespace

void* ModuleAlloc(std::size_t cbSize) {
    if (!g_ModuleState.phProcessorHeaps) return HeapAlloc(g_ModuleState.hBaseHeap, 0, cbSize);
    if (cbSize > static_cast<SIZE_T>(-1) - kHeaderSize) return nullptr;
    // The counter is deliberately unsynchronised: a race only changes which
    // heap serves a block.
    HANDLE hHeap = g_ModuleState.phProcessorHeaps[g_ModuleState.dwNextHeap & g_ModuleState.dwHeapMask];
    ++g_ModuleState.dwNextHeap;
    BYTE* pb = static_cast<BYTE*>(HeapAlloc(hHeap, 0, cbSize + kHeaderSize));
    if (!pb) return nullptr;
    *reinterpret_cast<HANDLE*>(pb) = hHeap;
    return pb + kHeaderSize;
}

void* ModuleRealloc(void* pvBlock, std::size_t cbSize) {
    if (!pvBlock) return ModuleAlloc(cbSize);
    if (!g_ModuleState.phProcessorHeaps) return HeapReAlloc(g_ModuleState.hBaseHeap, 0, pvBlock, cbSize);
    if (cbSize > static_cast<SIZE_T>(-1) - kHeaderSize) return nullptr;
    BYTE* pb = static_cast<BYTE*>(HeapReAlloc(OwningHeap(pvBlock), 0, static_cast<BYTE*>(pvBlock) - kHeaderSize,
                                              cbSize + kHeaderSize));
    return pb ? pb + kHeaderSize : nullptr;
}

void ModuleFree(void* pvBlock) {
    if (!pvBlock) return;
    if (!g_ModuleState.phProcessorHeaps) {
        HeapFree(g_ModuleState.hBaseHeap, 0, pvBlock);
        return;
    }
    HeapFree(OwningHeap(pvBlock), 0, static_cast<BYTE*>(pvBlock) - kHeaderSize);
}

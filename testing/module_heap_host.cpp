// Host stand-in for the module heap: the C heap, with a live-block count and
// an allocation-failure injector so tests can drive every out-of-memory path.
#include "testing/host_services.h"
#include "platform/module_heap.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<long> g_lLiveBlocks{0};
std::atomic<long> g_lSuccessesLeft{-1};

bool AllocationAllowed() {
    long lLeft = g_lSuccessesLeft.load();
    while (lLeft >= 0) {
        if (lLeft == 0) return false;
        if (g_lSuccessesLeft.compare_exchange_weak(lLeft, lLeft - 1)) return true;
    }
    return true;
}
}  // namespace

void* ModuleAlloc(std::size_t cbSize) {
    if (!AllocationAllowed()) return nullptr;
    // malloc(0) may give null; a 0-byte request must still give a block.
    void* pv = std::malloc(cbSize ? cbSize : 1);
    if (pv) ++g_lLiveBlocks;
    return pv;
}

void* ModuleRealloc(void* pvBlock, std::size_t cbSize) {
    if (!pvBlock) return ModuleAlloc(cbSize);
    if (!AllocationAllowed()) return nullptr;
    return std::realloc(pvBlock, cbSize ? cbSize : 1);
}

void ModuleFree(void* pvBlock) {
    if (!pvBlock) return;
    --g_lLiveBlocks;
    std::free(pvBlock);
}

long HostHeapLiveBlocks() { return g_lLiveBlocks.load(); }
void HostHeapFailAfter(long nSuccesses) { g_lSuccessesLeft.store(nSuccesses < 0 ? -1 : nSuccesses); }

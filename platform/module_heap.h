// Module heap: all of the library's own working memory comes from here.
// Blocks are not zero-filled, a 0-byte request gives a valid block, freeing
// null does nothing and exhaustion is a null result (never an exception).
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/unique_owner.h"

void* ModuleAlloc(std::size_t cbSize);
void* ModuleRealloc(void* pvBlock, std::size_t cbSize);
void ModuleFree(void* pvBlock);

// Owns one module-heap block for the length of a scope.
struct ModuleBlockTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type pv) { ModuleFree(pv); }
};
using ModuleBlock = UniqueOwner<ModuleBlockTraits>;

// Room in a block of *pnCapacity items of cbItem bytes for nCount items: a
// block that must grow gets at least twice its capacity (nFirst items when
// it has none yet), at most 2^32 - 1 items. False, the block unchanged, when
// that does not fit or the heap refuses.
inline bool ReserveItems(ModuleBlock& block, std::uint32_t* pnCapacity, std::uint64_t nCount, std::size_t cbItem,
                         std::uint32_t nFirst) {
    if (block && nCount <= *pnCapacity) return true;
    std::uint64_t nNew = *pnCapacity ? 2ull * *pnCapacity : nFirst;
    if (nNew < nCount) nNew = nCount;
    if (nNew > 0xFFFFFFFFu) nNew = 0xFFFFFFFFu;
    if (nCount > nNew || nNew > SIZE_MAX / cbItem) return false;
    void* pv = ModuleRealloc(block.get(), static_cast<std::size_t>(nNew * cbItem));
    if (!pv) return false;
    block.release();
    block.reset(pv);
    *pnCapacity = static_cast<std::uint32_t>(nNew);
    return true;
}

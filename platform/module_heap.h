// Module heap: all of the library's own working memory comes from here.
// Blocks are not zero-filled, a 0-byte request gives a valid block, freeing
// null does nothing and exhaustion is a null result (never an exception).
#pragma once
#include <cstddef>

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

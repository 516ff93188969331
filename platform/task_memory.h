// The task memory allocator: memory that may pass between components (the
// expanded script text and the replacement map's strings). On Windows it is
// CoTaskMemAlloc and its companions.
#pragma once
#include <cstddef>

#include "platform/unique_owner.h"

void* TaskMemAlloc(std::size_t cb);
void* TaskMemRealloc(void* pv, std::size_t cb);
void TaskMemFree(void* pv);

// Owns one task-memory block for the length of a scope.
struct TaskMemTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type pv) { TaskMemFree(pv); }
};
using TaskMemBlock = UniqueOwner<TaskMemTraits>;

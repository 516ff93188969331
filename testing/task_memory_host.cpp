// The host has no COM task allocator; the module heap's host implementation
// stands in, so tests see these blocks in its live count and can make them
// fail with its failure injector.
#include "platform/task_memory.h"
#include "platform/module_heap.h"

void* TaskMemAlloc(std::size_t cb) { return ModuleAlloc(cb); }
void* TaskMemRealloc(void* pv, std::size_t cb) { return ModuleRealloc(pv, cb); }
void TaskMemFree(void* pv) { ModuleFree(pv); }

#include "platform/task_memory.h"

#include <objbase.h>

void* TaskMemAlloc(std::size_t cb) { return CoTaskMemAlloc(cb); }
void* TaskMemRealloc(void* pv, std::size_t cb) { return CoTaskMemRealloc(pv, cb); }
void TaskMemFree(void* pv) { CoTaskMemFree(pv); }

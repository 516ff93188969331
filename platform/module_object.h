// Objects live in the module heap: constructed in place on a ModuleAlloc
// block and destroyed explicitly, since nothing here may throw or use the
// C++ free store.
#pragma once
#include <new>
#include <utility>

#include "platform/module_heap.h"

template <class T, class... Args>
T* ModuleNew(Args&&... args) {
    void* pv = ModuleAlloc(sizeof(T));
    return pv ? new (pv) T(std::forward<Args>(args)...) : nullptr;
}

template <class T>
void ModuleDelete(T* p) {
    if (!p) return;
    p->~T();
    ModuleFree(p);
}

// A pointer that one thread stores once, under a lock, and others read
// without one: everything written before the store is visible to a reader
// that sees the pointer.
template <class T>
void PublishPointer(T** ppTarget, T* p) { __atomic_store_n(ppTarget, p, __ATOMIC_RELEASE); }

template <class T>
T* ReadPublished(T* const* ppSource) { return __atomic_load_n(ppSource, __ATOMIC_ACQUIRE); }

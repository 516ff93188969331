// The task memory allocator: memory that may pass between components (the
// expanded script text and the replacement map's strings). On Windows it is
// CoTaskMemAlloc and its companions.
#pragma once
#include <cstddef>

void* TaskMemAlloc(std::size_t cb);
void* TaskMemRealloc(void* pv, std::size_t cb);
void TaskMemFree(void* pv);

// Owns one task-memory block for the length of a scope.
class TaskMemBlock {
public:
    TaskMemBlock() = default;
    explicit TaskMemBlock(void* pv) : m_pv(pv) {}
    ~TaskMemBlock() { TaskMemFree(m_pv); }
    TaskMemBlock(const TaskMemBlock&) = delete;
    TaskMemBlock& operator=(const TaskMemBlock&) = delete;

    template <class T> T* as() const { return static_cast<T*>(m_pv); }
    explicit operator bool() const { return m_pv != nullptr; }
    void* release() { void* pv = m_pv; m_pv = nullptr; return pv; }
    void reset(void* pv = nullptr) { if (pv != m_pv) { TaskMemFree(m_pv); m_pv = pv; } }

private:
    void* m_pv = nullptr;
};

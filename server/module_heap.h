// Module heap: all of the library's own working memory comes from here.
// Blocks are not zero-filled, a 0-byte request gives a valid block, freeing
// null does nothing and exhaustion is a null result (never an exception).
#pragma once
#include <cstddef>

void* ModuleAlloc(std::size_t cbSize);
void* ModuleRealloc(void* pvBlock, std::size_t cbSize);
void ModuleFree(void* pvBlock);

// Owns one module-heap block for the length of a scope.
class ModuleBlock {
public:
    ModuleBlock() = default;
    explicit ModuleBlock(void* pv) : m_pv(pv) {}
    ~ModuleBlock() { ModuleFree(m_pv); }
    ModuleBlock(const ModuleBlock&) = delete;
    ModuleBlock& operator=(const ModuleBlock&) = delete;

    void* get() const { return m_pv; }
    template <class T> T* as() const { return static_cast<T*>(m_pv); }
    explicit operator bool() const { return m_pv != nullptr; }
    void reset(void* pv = nullptr) { if (pv != m_pv) { ModuleFree(m_pv); m_pv = pv; } }
    void* release() { void* pv = m_pv; m_pv = nullptr; return pv; }

private:
    void* m_pv = nullptr;
};

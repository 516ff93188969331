// Frees a library loaded for the length of one registration step.
#pragma once
#include <windows.h>

class LoadedLibrary {
public:
    explicit LoadedLibrary(HMODULE hModule) : m_h(hModule) {}
    ~LoadedLibrary() { if (m_h) FreeLibrary(m_h); }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    HMODULE get() const { return m_h; }

private:
    HMODULE m_h;
};

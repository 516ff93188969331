// The owner of an interface pointer, so every way out of a call releases it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "platform/win32_owners.h"

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: releases what is held first.
    T** put() { reset(); return &m_p; }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void attach(T* p) { reset(); m_p = p; }
    T* detach() { T* p = m_p; m_p = nullptr; return p; }
    void reset() { if (m_p) { T* p = m_p; m_p = nullptr; p->Release(); } }

private:
    T* m_p = nullptr;
};

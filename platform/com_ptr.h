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
    ComPtr(ComPtr&& other) : m_p(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) {
        if (this != &other) attach(other.detach());
        return *this;
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: releases what is held first.
    T** put() { reset(); return &m_p; }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void attach(T* p) { reset(); m_p = p; }
    T* detach() { T* p = m_p; m_p = nullptr; return p; }
    void reset() { if (m_p) { T* p = m_p; m_p = nullptr; p->Release(); } }

    // The same object's interface U in *pOther (released first): the status
    // of QueryInterface, *pOther null on failure.
    template <class U>
    HRESULT As(ComPtr<U>* pOther) const {
        return m_p->QueryInterface(__uuidof(U), pOther->put_void());
    }

private:
    T* m_p = nullptr;
};

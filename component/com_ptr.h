// Small owners for COM resources, so every way out of a call releases them.
#pragma once
#include <windows.h>
#include <oleauto.h>

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

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR bstr) : m_bstr(bstr) {}
    ~UniqueBstr() { SysFreeString(m_bstr); }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    BSTR get() const { return m_bstr; }
    BSTR* put() { SysFreeString(m_bstr); m_bstr = nullptr; return &m_bstr; }
    BSTR release() { BSTR bstr = m_bstr; m_bstr = nullptr; return bstr; }

private:
    BSTR m_bstr = nullptr;
};

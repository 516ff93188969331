// A VARIANT cleared on every way out, unless its value is handed on.
#pragma once
#include <windows.h>
#include <oleauto.h>

class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&m_var); }
    ~ScopedVariant() { VariantClear(&m_var); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT* get() { return &m_var; }
    const VARIANT& operator*() const { return m_var; }
    const VARIANT* operator->() const { return &m_var; }
    // Clears the value: VT_EMPTY again.
    void reset() { VariantClear(&m_var); }
    // Hands the value to the caller, who clears it from then on; this one is
    // left VT_EMPTY.
    VARIANT release() {
        VARIANT var = m_var;
        VariantInit(&m_var);
        return var;
    }

private:
    VARIANT m_var;
};

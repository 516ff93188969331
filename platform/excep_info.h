// An EXCEPINFO for IDispatch::Invoke to fill: the strings a callee put in it
// are freed on every way out.
#pragma once
#include <windows.h>
#include <oleauto.h>

class ScopedExcepInfo {
public:
    ScopedExcepInfo() = default;
    ~ScopedExcepInfo() {
        SysFreeString(m_info.bstrSource);
        SysFreeString(m_info.bstrDescription);
        SysFreeString(m_info.bstrHelpFile);
    }
    ScopedExcepInfo(const ScopedExcepInfo&) = delete;
    ScopedExcepInfo& operator=(const ScopedExcepInfo&) = delete;

    EXCEPINFO* get() { return &m_info; }
    const EXCEPINFO* operator->() const { return &m_info; }

private:
    EXCEPINFO m_info{};
};

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

    // A callee may leave the fields for later: they are filled in, once,
    // before anyone reads them.
    void FillIn() {
        if (const auto pfnFillIn = m_info.pfnDeferredFillIn) {
            m_info.pfnDeferredFillIn = nullptr;
            pfnFillIn(&m_info);
        }
    }
    // What Invoke's hr means: for an exception, the failure the callee
    // reported in it, when it reported one.
    HRESULT Failure(HRESULT hr) {
        if (hr != DISP_E_EXCEPTION) return hr;
        FillIn();
        return FAILED(m_info.scode) ? m_info.scode : hr;
    }

private:
    EXCEPINFO m_info{};
};

// The host side of a script engine running one page: it hands the engine the
// page's named objects and keeps the first script error with its page line.
#pragma once
#include "asp_page.h"
#include "platform/com_ptr.h"

#include <activscp.h>

#include <string>

// A script error as the page's author needs it.
struct ScriptFailure {
    ULONG line = 0;  // the page line, 0 when unknown
    std::wstring source;  // the engine's name for the kind of error
    std::wstring description;
    HRESULT code = S_OK;
    std::wstring sourceLine;
};

class PageSite : public IActiveScriptSite {
public:
    explicit PageSite(const PageScript& script) : m_script(script) {}

    // Holds a reference to the item until the site goes.
    bool AddItem(const wchar_t* pszName, IDispatch* pdisp);
    UINT ItemCount() const { return m_cItems; }
    const wchar_t* ItemName(UINT i) const { return m_items[i].pszName; }

    bool HasError() const { return m_hasError; }
    const ScriptFailure& Failure() const { return m_failure; }
    // One line and the source line below it, for a log.
    std::wstring ErrorText() const;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetLCID(LCID* plcid) override;
    STDMETHODIMP GetItemInfo(LPCOLESTR pstrName, DWORD dwReturnMask, IUnknown** ppiunkItem,
                             ITypeInfo** ppti) override;
    STDMETHODIMP GetDocVersionString(BSTR* pbstrVersion) override;
    STDMETHODIMP OnScriptTerminate(const VARIANT* pvarResult, const EXCEPINFO* pexcepinfo) override;
    STDMETHODIMP OnStateChange(SCRIPTSTATE ssScriptState) override;
    STDMETHODIMP OnScriptError(IActiveScriptError* pscripterror) override;
    STDMETHODIMP OnEnterScript() override;
    STDMETHODIMP OnLeaveScript() override;

private:
    virtual ~PageSite() = default;

    struct Item {
        const wchar_t* pszName = nullptr;
        ComPtr<IDispatch> disp;
    };
    static const UINT kMaxItems = 4;

    const PageScript& m_script;
    Item m_items[kMaxItems];
    UINT m_cItems = 0;
    bool m_hasError = false;
    ScriptFailure m_failure;
    LONG m_cRef = 1;
};

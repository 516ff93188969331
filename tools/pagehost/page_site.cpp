#include "page_site.h"

#include <cwchar>

#include "platform/excep_info.h"

bool PageSite::AddItem(const wchar_t* pszName, IDispatch* pdisp) {
    if (m_cItems == kMaxItems || !pdisp) return false;
    pdisp->AddRef();
    m_items[m_cItems].pszName = pszName;
    m_items[m_cItems].disp.attach(pdisp);
    ++m_cItems;
    return true;
}

STDMETHODIMP PageSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IActiveScriptSite)) {
        *ppv = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PageSite::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) PageSite::Release() {
    LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP PageSite::GetLCID(LCID* plcid) {
    if (!plcid) return E_POINTER;
    *plcid = GetUserDefaultLCID();
    return S_OK;
}

// The objects have no type information: the engines call them late-bound.
STDMETHODIMP PageSite::GetItemInfo(LPCOLESTR pstrName, DWORD dwReturnMask, IUnknown** ppiunkItem,
                                   ITypeInfo** ppti) {
    if (ppiunkItem) *ppiunkItem = nullptr;
    if (ppti) *ppti = nullptr;
    if ((dwReturnMask & SCRIPTINFO_IUNKNOWN) && !ppiunkItem) return E_INVALIDARG;
    if ((dwReturnMask & SCRIPTINFO_ITYPEINFO) && !ppti) return E_INVALIDARG;
    if (!pstrName) return E_INVALIDARG;
    for (UINT i = 0; i < m_cItems; ++i) {
        if (lstrcmpiW(pstrName, m_items[i].pszName) != 0) continue;
        if (!(dwReturnMask & SCRIPTINFO_IUNKNOWN)) return TYPE_E_ELEMENTNOTFOUND;
        *ppiunkItem = m_items[i].disp.get();
        (*ppiunkItem)->AddRef();
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP PageSite::GetDocVersionString(BSTR* pbstrVersion) {
    if (pbstrVersion) *pbstrVersion = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP PageSite::OnScriptTerminate(const VARIANT*, const EXCEPINFO*) { return S_OK; }
STDMETHODIMP PageSite::OnStateChange(SCRIPTSTATE) { return S_OK; }
STDMETHODIMP PageSite::OnEnterScript() { return S_OK; }
STDMETHODIMP PageSite::OnLeaveScript() { return S_OK; }

// The first error is the page's failure; what follows it is its echo.
STDMETHODIMP PageSite::OnScriptError(IActiveScriptError* pscripterror) {
    if (!pscripterror || m_hasError) return S_OK;
    m_hasError = true;
    ScopedExcepInfo info;
    if (SUCCEEDED(pscripterror->GetExceptionInfo(info.get()))) info.FillIn();
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    if (SUCCEEDED(pscripterror->GetSourcePosition(&context, &line, &column))) m_failure.line = m_script.PageLine(line);
    const EXCEPINFO& ei = *info.get();
    if (ei.bstrSource) m_failure.source = ei.bstrSource;
    m_failure.description = ei.bstrDescription && *ei.bstrDescription ? ei.bstrDescription : L"(no description)";
    m_failure.code = ei.scode ? ei.scode : ei.wCode;
    UniqueBstr sourceLine;
    if (SUCCEEDED(pscripterror->GetSourceLineText(sourceLine.put())) && sourceLine.get())
        m_failure.sourceLine = sourceLine.get();
    return S_OK;
}

std::wstring PageSite::ErrorText() const {
    std::wstring text = m_failure.line ? L"line " + std::to_wstring(m_failure.line) + L": " : L"line unknown: ";
    if (!m_failure.source.empty()) text += m_failure.source + L": ";
    text += m_failure.description;
    wchar_t code[16];
    swprintf(code, 16, L" (%08lX)", static_cast<unsigned long>(m_failure.code));
    text += code;
    if (!m_failure.sourceLine.empty()) text += L"\n    " + m_failure.sourceLine;
    return text;
}

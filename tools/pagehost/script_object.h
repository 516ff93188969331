// A late-bound object that page scripts call by name, as the server's own
// Request, Response and Server objects are: a fixed member table answers
// GetIDsOfNames (without regard to case, as scripts spell names as they
// like), and Invoke checks each call against the table before the object
// sees it.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "platform/win32_owners.h"

struct ScriptMember {
    const wchar_t* pszName;
    DISPID dispid;
    WORD wFlags;  // the DISPATCH_* kinds of call it answers
    UINT cArgs;   // positional arguments; a property put's value is not one
    UINT cOptional;  // further positional arguments it may be given
};

// One call's arguments in the order the script wrote them (the caller's
// array holds them last first), and for a property put its value. Invoke has
// checked their count against the member table.
class ScriptArgs {
public:
    explicit ScriptArgs(DISPPARAMS* pdp, UINT cPositional) : m_pdp(pdp), m_cPositional(cPositional) {}
    UINT Count() const { return m_cPositional; }
    VARIANT* At(UINT i) const { return &m_pdp->rgvarg[m_pdp->cArgs - 1 - i]; }
    // Where a failure in argument i is reported (puArgErr counts in the
    // caller's order).
    UINT CallerIndex(UINT i) const { return m_pdp->cArgs - 1 - i; }
    VARIANT* PutValue() const { return &m_pdp->rgvarg[0]; }

private:
    DISPPARAMS* m_pdp;
    UINT m_cPositional;
};

class ScriptObject : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

protected:
    ScriptObject(const wchar_t* pszObjectName, const ScriptMember* pMembers, UINT cMembers)
        : m_pszObjectName(pszObjectName), m_pMembers(pMembers), m_cMembers(cMembers) {}
    virtual ~ScriptObject() = default;

    // One checked call. pvarResult is always there (the caller's or a
    // scratch one) and empty; what it holds on failure is cleared.
    virtual HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult,
                         EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

    // Raises a script error: the page sees it as Err / a thrown error.
    HRESULT RaiseError(EXCEPINFO* pExcepInfo, const wchar_t* pszMember, const std::wstring& description,
                       HRESULT scode) const;

private:
    const wchar_t* m_pszObjectName;
    const ScriptMember* m_pMembers;
    UINT m_cMembers;
    LONG m_cRef = 1;
};

// A value as text, the way a page's Response.Write shows it: Null and Empty
// are "", a Boolean is True/False; by-reference values are followed.
HRESULT VariantText(const VARIANT* pvar, std::wstring& text);
// A value as a 32-bit integer, by-reference values followed.
HRESULT VariantLong(const VARIANT* pvar, LONG& value);
// Stores a new BSTR copy of text as the result.
HRESULT ReturnText(VARIANT* pvarResult, const std::wstring& text);

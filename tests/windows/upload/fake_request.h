// A page's Request object for VARO.Upload's LoadRequest, as a stand-in that
// the tests steer: how it gives the body, when it fails, what it reports.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "upload_client.h"

// What every stand-in object of a script's world answers alike: IDispatch
// without type information.
class FakeDispatch : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pc) override {
        *pc = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
};

// A server's answer for one name of a collection: a list object whose
// default value is the text (as a server gives ServerVariables("X") to a
// script that asks for the object rather than its text).
class FakeStringList : public FakeDispatch {
public:
    explicit FakeStringList(const wchar_t* pszText) : m_text(pszText) {}

    STDMETHODIMP_(ULONG) AddRef() override { return ++m_lRefs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG lRefs = --m_lRefs;
        if (lRefs == 0) delete this;
        return lRefs;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                        UINT*) override {
        if (dispid != DISPID_VALUE || pParams->cArgs != 0 || !pResult) return DISP_E_MEMBERNOTFOUND;
        pResult->vt = VT_BSTR;
        pResult->bstrVal = SysAllocString(m_text.c_str());
        return pResult->bstrVal ? S_OK : E_OUTOFMEMORY;
    }

private:
    virtual ~FakeStringList() = default;
    std::wstring m_text;
    ULONG m_lRefs = 1;
};

// A page's Request object as the server offers it: TotalBytes, and
// BinaryRead(count) with the count by reference, giving at most cbPiece
// bytes a call (the network's pieces) and writing back how many it gave;
// with a content type set, also ServerVariables(name), which answers
// "CONTENT_TYPE" (in any case) with it and any other name with "".
class FakeRequest : public FakeDispatch {
public:
    explicit FakeRequest(std::string body) : m_body(std::move(body)), m_total(static_cast<double>(m_body.size())) {}
    ~FakeRequest() { VariantClear(&contentType); }
    FakeRequest(const FakeRequest&) = delete;
    FakeRequest& operator=(const FakeRequest&) = delete;

    // ServerVariables("CONTENT_TYPE") as text.
    void SetContentType(const wchar_t* pszType) {
        VariantClear(&contentType);
        contentType.vt = VT_BSTR;
        contentType.bstrVal = SysAllocString(pszType);
    }
    // ServerVariables("CONTENT_TYPE") as a list object whose value is the text.
    void SetContentTypeList(const wchar_t* pszType) {
        VariantClear(&contentType);
        contentType.vt = VT_DISPATCH;
        contentType.pdispVal = new FakeStringList(pszType);
    }

    std::size_t cbPiece = SIZE_MAX;
    std::size_t cbEndAfter = SIZE_MAX;  // the client goes away after this many bytes
    HRESULT hrRead = S_OK;              // BinaryRead fails with this
    bool bDeferFailure = false;         // ... told as an exception filled in later
    bool bGiveText = false;             // BinaryRead gives a string
    VARIANT total{};                    // TotalBytes, when set (vt != VT_EMPTY)
    std::size_t cbRead = 0;
    int nReads = 0;
    bool bCountWrittenBack = true;
    std::function<void(std::size_t cbRead)> onPiece;  // after each piece it gave
    // ServerVariables' answer for CONTENT_TYPE (any type; VT_ERROR: the call
    // fails with its scode); VT_EMPTY: the object has no ServerVariables.
    VARIANT contentType{};
    std::vector<std::wstring> variablesAsked;  // each ServerVariables name, in order
    int nVariableReadsBeforeBody = -1;          // ServerVariables calls made before the first BinaryRead

    STDMETHODIMP_(ULONG) AddRef() override { return ++m_lRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_lRefs; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
        if (cNames != 1) return DISP_E_UNKNOWNNAME;
        if (lstrcmpiW(rgszNames[0], L"TotalBytes") == 0) *rgDispId = 1;
        else if (lstrcmpiW(rgszNames[0], L"BinaryRead") == 0) *rgDispId = 2;
        else if (lstrcmpiW(rgszNames[0], L"ServerVariables") == 0 && contentType.vt != VT_EMPTY) *rgDispId = 3;
        else return DISP_E_UNKNOWNNAME;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT*) override {
        if (dispid == 1) {
            if (total.vt != VT_EMPTY) return VariantCopy(pResult, &total);
            pResult->vt = VT_R8;
            pResult->dblVal = m_total;
            return S_OK;
        }
        if (dispid == 3) return ServerVariables(pParams, pResult);
        if (dispid != 2 || pParams->cArgs != 1) return DISP_E_MEMBERNOTFOUND;
        if (nReads++ == 0) nVariableReadsBeforeBody = static_cast<int>(variablesAsked.size());
        if (FAILED(hrRead) && bDeferFailure && pExcepInfo) {
            // The reason waits in the fill-in function, which has only the
            // EXCEPINFO to go by: it is kept in the reserved field.
            *pExcepInfo = EXCEPINFO{};
            pExcepInfo->pvReserved = reinterpret_cast<void*>(static_cast<INT_PTR>(hrRead));
            pExcepInfo->pfnDeferredFillIn = FillInReadFailure;
            return DISP_E_EXCEPTION;
        }
        if (FAILED(hrRead)) return hrRead;
        VARIANT* pCount = &pParams->rgvarg[0];
        if (pCount->vt != (VT_BYREF | VT_VARIANT) || pCount->pvarVal->vt != VT_I4) return DISP_E_TYPEMISMATCH;
        if (bGiveText) {
            pResult->vt = VT_BSTR;
            pResult->bstrVal = SysAllocString(L"text");
            return S_OK;
        }
        const std::size_t cbAvailable = std::min(m_body.size(), cbEndAfter);
        const std::size_t cbLeft = cbAvailable - std::min(cbRead, cbAvailable);
        const std::size_t cb = std::min({static_cast<std::size_t>(pCount->pvarVal->lVal), cbPiece, cbLeft});
        SetBytes(pResult, m_body.substr(cbRead, cb));
        cbRead += cb;
        pCount->pvarVal->lVal = static_cast<LONG>(cb);
        if (onPiece) onPiece(cbRead);
        return S_OK;
    }

private:
    // One argument, the name, as a page's script passes it.
    HRESULT ServerVariables(DISPPARAMS* pParams, VARIANT* pResult) {
        if (pParams->cArgs != 1 || pParams->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
        const VARIANT& name = pParams->rgvarg[0];
        if (name.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        variablesAsked.push_back(Text(name.bstrVal));
        if (lstrcmpiW(name.bstrVal, L"CONTENT_TYPE") != 0) {
            pResult->vt = VT_BSTR;
            pResult->bstrVal = SysAllocString(L"");
            return S_OK;
        }
        if (contentType.vt == VT_ERROR) return contentType.scode;
        return VariantCopy(pResult, &contentType);
    }

    static HRESULT STDAPICALLTYPE FillInReadFailure(EXCEPINFO* pInfo) {
        pInfo->scode = static_cast<SCODE>(reinterpret_cast<INT_PTR>(pInfo->pvReserved));
        pInfo->pvReserved = nullptr;
        pInfo->bstrDescription = SysAllocString(L"filled in later");
        return S_OK;
    }

    std::string m_body;
    double m_total;
    ULONG m_lRefs = 1;
};

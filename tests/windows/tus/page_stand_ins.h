// A page's Request and Response for VARO.Resumable's Handle, as stand-ins
// the tests steer: the server variables a request carries, its body given
// in network-sized pieces and cut off where a test says, and the status and
// headers the answer writes.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "upload/fake_request.h"

// ServerVariables(name) from a table (any other name gives ""), and
// BinaryRead(count) of the body.
class TusRequest : public FakeDispatch {
public:
    TusRequest(std::map<std::wstring, std::wstring> variables, std::string body)
        : m_variables(std::move(variables)), m_body(std::move(body)) {
        if (!m_body.empty() && !m_variables.count(L"CONTENT_LENGTH"))
            m_variables[L"CONTENT_LENGTH"] = std::to_wstring(m_body.size());
    }

    std::size_t cbPiece = 16 * 1024;    // the network's pieces
    std::size_t cbEndAfter = SIZE_MAX;  // the client goes away after this many bytes
    std::size_t cbRead = 0;
    std::size_t cbLargestAsked = 0;
    int nReads = 0;

    STDMETHODIMP_(ULONG) AddRef() override { return ++m_lRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_lRefs; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
        if (cNames != 1) return DISP_E_UNKNOWNNAME;
        if (lstrcmpiW(rgszNames[0], L"ServerVariables") == 0) *rgDispId = 1;
        else if (lstrcmpiW(rgszNames[0], L"BinaryRead") == 0) *rgDispId = 2;
        else if (lstrcmpiW(rgszNames[0], L"TotalBytes") == 0) *rgDispId = 3;
        else return DISP_E_UNKNOWNNAME;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                        UINT*) override {
        if (dispid == 3) {
            pResult->vt = VT_R8;
            pResult->dblVal = static_cast<double>(m_body.size());
            return S_OK;
        }
        if (dispid == 1) {
            if (pParams->cArgs != 1 || pParams->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            std::wstring name(pParams->rgvarg[0].bstrVal);
            for (wchar_t& ch : name) ch = static_cast<wchar_t>(towupper(ch));
            auto it = m_variables.find(name);
            pResult->vt = VT_BSTR;
            pResult->bstrVal = SysAllocString(it == m_variables.end() ? L"" : it->second.c_str());
            return S_OK;
        }
        if (dispid != 2 || pParams->cArgs != 1) return DISP_E_MEMBERNOTFOUND;
        VARIANT* pCount = &pParams->rgvarg[0];
        if (pCount->vt != (VT_BYREF | VT_VARIANT) || pCount->pvarVal->vt != VT_I4) return DISP_E_TYPEMISMATCH;
        ++nReads;
        cbLargestAsked = std::max(cbLargestAsked, static_cast<std::size_t>(pCount->pvarVal->lVal));
        const std::size_t cbAvailable = std::min(m_body.size(), cbEndAfter);
        const std::size_t cbLeft = cbAvailable - std::min(cbRead, cbAvailable);
        const std::size_t cb = std::min({static_cast<std::size_t>(pCount->pvarVal->lVal), cbPiece, cbLeft});
        SetBytes(pResult, m_body.substr(cbRead, cb));
        cbRead += cb;
        pCount->pvarVal->lVal = static_cast<LONG>(cb);
        return S_OK;
    }

private:
    std::map<std::wstring, std::wstring> m_variables;
    std::string m_body;
    ULONG m_lRefs = 1;
};

// Response.Status = text and Response.AddHeader name, value, recorded; any
// other member is missing, so that an answer writing more would fail.
class TusResponse : public FakeDispatch {
public:
    std::wstring status;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    int nCalls = 0;

    std::wstring Header(const std::wstring& name) const {
        std::wstring value = L"<absent>";
        int nFound = 0;
        for (const auto& header : headers)
            if (header.first == name) value = header.second, ++nFound;
        return nFound > 1 ? L"<several>" : value;
    }
    int Code() const { return _wtoi(status.c_str()); }

    STDMETHODIMP_(ULONG) AddRef() override { return ++m_lRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_lRefs; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
        if (cNames != 1) return DISP_E_UNKNOWNNAME;
        if (lstrcmpiW(rgszNames[0], L"Status") == 0) *rgDispId = 1;
        else if (lstrcmpiW(rgszNames[0], L"AddHeader") == 0) *rgDispId = 2;
        else return DISP_E_UNKNOWNNAME;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        ++nCalls;
        if (dispid == 1) {
            if (!(wFlags & DISPATCH_PROPERTYPUT) || pParams->cArgs != 1 || pParams->cNamedArgs != 1 ||
                pParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || pParams->rgvarg[0].vt != VT_BSTR)
                return DISP_E_TYPEMISMATCH;
            status = pParams->rgvarg[0].bstrVal;
            return S_OK;
        }
        if (dispid != 2 || pParams->cArgs != 2 || pParams->rgvarg[0].vt != VT_BSTR || pParams->rgvarg[1].vt != VT_BSTR)
            return DISP_E_TYPEMISMATCH;
        headers.emplace_back(pParams->rgvarg[1].bstrVal, pParams->rgvarg[0].bstrVal);
        return S_OK;
    }

private:
    ULONG m_lRefs = 1;
};

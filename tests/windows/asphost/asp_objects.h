// The three objects a classic page reaches by name, as far as the pages
// under test use them: the request body and two server variables, the
// response text, and object creation, paths and HTML encoding.
#pragma once
#include "script_object.h"

#include <string>
#include <vector>

class RequestObject : public ScriptObject {
public:
    explicit RequestObject(std::vector<BYTE> body);

protected:
    HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

private:
    HRESULT BinaryRead(const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

    std::vector<BYTE> m_body;
    size_t m_cbRead = 0;  // BinaryRead goes on where the last call stopped
    std::wstring m_contentType;
};

class ResponseObject : public ScriptObject {
public:
    ResponseObject();
    const std::wstring& Text() const { return m_text; }

protected:
    HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

private:
    std::wstring m_text;
};

class ServerObject : public ScriptObject {
public:
    explicit ServerObject(std::wstring uploadDir);

protected:
    HRESULT Call(DISPID dispid, WORD wFlags, const ScriptArgs& args, VARIANT* pvarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

private:
    HRESULT CreateObject(const std::wstring& progid, VARIANT* pvarResult, EXCEPINFO* pExcepInfo);
    std::wstring MapPath(std::wstring path) const;

    std::wstring m_uploadDir;
};

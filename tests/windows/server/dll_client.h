// VARO.DLL as a client uses it: loaded by path, reached through its exports,
// its type library registered and removed by the test itself.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "platform/win32_owners.h"
#include "varo.h"
#include "ja_messages.h"
#include "multipart_body.h"
#include "variant_bytes.h"

std::string VaroDllPath();

class VaroDll {
public:
    VaroDll() = default;
    ~VaroDll() { Unload(); }
    VaroDll(const VaroDll&) = delete;
    VaroDll& operator=(const VaroDll&) = delete;

    // Records the heaps that exist before the load: the ones that appear with
    // it are the module's own.
    bool Load();
    void Unload();
    bool IsLoaded() const { return m_hModule != nullptr; }
    HMODULE Module() const { return m_hModule; }

    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const;
    // DllRegisterServer and DllUnregisterServer of the loaded module.
    HRESULT RegisterServer() const { return CallExport("DllRegisterServer"); }
    HRESULT UnregisterServer() const { return CallExport("DllUnregisterServer"); }
    HRESULT CanUnloadNow() const;
    // Blocks now allocated in the heaps the module created.
    long BusyBlocks() const;

private:
    HRESULT CallExport(const char* pszName) const;

    HMODULE m_hModule = nullptr;
    HRESULT(WINAPI* m_pfnGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* m_pfnCanUnloadNow)() = nullptr;
    std::vector<HANDLE> m_heapsBefore;
};

// The reference count of an object, read by one AddRef and one Release.
ULONG RefCount(IUnknown* p);

// The module lock count, found by unlocking through the class object until
// the module answers that it can unload, then locking back. The class object
// held for the probe counts itself.
long ModuleLockCount(const VaroDll& dll, IClassFactory* pFactory);

// Registers VARO.DLL (class, ProgIDs, type library) for a scope: methods
// that publish error information look up the class's ProgID, and under Wine
// several threads doing that for an unregistered class fail spuriously.
class RegisteredServer {
public:
    RegisteredServer();
    ~RegisteredServer();
    RegisteredServer(const RegisteredServer&) = delete;
    RegisteredServer& operator=(const RegisteredServer&) = delete;
    HRESULT status() const { return m_hr; }

private:
    HRESULT m_hr;
};

// The type library's registration, as the test needs it to be.
HRESULT RegisterVaroTypeLib();
void UnregisterVaroTypeLib();
// What LoadRegTypeLib answers for the library right now.
HRESULT LoadRegVaroTypeLibStatus();

class ComApartment {
public:
    explicit ComApartment(DWORD dwModel = COINIT_APARTMENTTHREADED) : m_hr(CoInitializeEx(nullptr, dwModel)) {}
    ~ComApartment() { if (SUCCEEDED(m_hr)) CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT status() const { return m_hr; }

private:
    HRESULT m_hr;
};

// A script variable: cleared when the script is done with it.
using ScriptVariable = ScopedVariant;

void SetBytes(VARIANT* pVar, const std::string& bytes);  // VT_ARRAY|VT_UI1
void SetString(VARIANT* pVar, const std::wstring& text);  std::wstring StringOf(const VARIANT& var);  // VT_BSTR only

// A method call as a script engine makes it: the DISPID looked up by name,
// the arguments in reverse order, a variable passed as VT_BYREF|VT_VARIANT
// pointing at the script's own variable and a literal by value.
class ScriptCall {
public:
    ScriptCall() { VariantInit(&result); }
    ~ScriptCall();
    ScriptCall(const ScriptCall&) = delete;
    ScriptCall& operator=(const ScriptCall&) = delete;

    ScriptCall& Var(ScriptVariable& variable);
    ScriptCall& Literal(const std::wstring& text);
    ScriptCall& NullString();  // a BSTR argument holding a null string

    // GetIDsOfNames, then Invoke for a value (method call in an expression).
    HRESULT Run(IDispatch* pDispatch, const wchar_t* pszName);
    HRESULT RunId(IDispatch* pDispatch, DISPID dispid, REFIID riid = IID_NULL);

    VARIANT result;
    EXCEPINFO excepInfo = {};
    UINT uArgErr = 0;

private:
    std::vector<VARIANT> m_args;  // in script order
    std::vector<VARIANT> m_owned;
};


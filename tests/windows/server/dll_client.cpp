#include "dll_client.h"
#include "heap_walk.h"

#include <algorithm>
#include <cstring>

#include "test_paths.h"

std::string VaroDllPath() { return WinePath(VARO_DLL_PATH); }

namespace {
std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::vector<HANDLE> ProcessHeaps() {
    std::vector<HANDLE> heaps(256);
    DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    heaps.resize(std::min<DWORD>(n, static_cast<DWORD>(heaps.size())));
    return heaps;
}

}  // namespace

bool VaroDll::Load() {
    Unload();
    m_heapsBefore = ProcessHeaps();
    m_hModule = LoadLibraryA(VaroDllPath().c_str());
    if (!m_hModule) return false;
    m_pfnGetClassObject = reinterpret_cast<decltype(m_pfnGetClassObject)>(GetProcAddress(m_hModule, "DllGetClassObject"));
    m_pfnCanUnloadNow = reinterpret_cast<decltype(m_pfnCanUnloadNow)>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
    return m_pfnGetClassObject && m_pfnCanUnloadNow;
}

void VaroDll::Unload() {
    if (m_hModule) FreeLibrary(m_hModule);
    m_hModule = nullptr;
    m_pfnGetClassObject = nullptr;
    m_pfnCanUnloadNow = nullptr;
}

HRESULT VaroDll::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const {
    return m_pfnGetClassObject(rclsid, riid, ppv);
}

HRESULT VaroDll::CanUnloadNow() const { return m_pfnCanUnloadNow(); }

HRESULT VaroDll::CallExport(const char* pszName) const {
    auto pfn = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(m_hModule, pszName)));
    return pfn ? pfn() : E_NOTIMPL;
}

RegisteredServer::RegisteredServer() {
    VaroDll dll;
    m_hr = dll.Load() ? dll.RegisterServer() : E_FAIL;
}

RegisteredServer::~RegisteredServer() {
    VaroDll dll;
    if (dll.Load()) dll.UnregisterServer();
}

long VaroDll::BusyBlocks() const {
    long lBusy = 0;
    for (HANDLE hHeap : ProcessHeaps())
        if (std::find(m_heapsBefore.begin(), m_heapsBefore.end(), hHeap) == m_heapsBefore.end())
            lBusy += HeapBusyBlocks(hHeap);
    return lBusy;
}

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

long ModuleLockCount(const VaroDll& dll, IClassFactory* pFactory) {
    long lCount = 0;
    while (dll.CanUnloadNow() != S_OK && lCount < 1000) {
        pFactory->LockServer(FALSE);
        ++lCount;
    }
    for (long i = 0; i < lCount; ++i) pFactory->LockServer(TRUE);
    return lCount;
}

HRESULT RegisterVaroTypeLib() {
    std::wstring path = Widen(VaroDllPath());
    ITypeLib* pLib = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &pLib);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(pLib, &path[0], nullptr);
    pLib->Release();
    return hr;
}

void UnregisterVaroTypeLib() { UnRegisterTypeLib(LIBID_VAROLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32); }

HRESULT LoadRegVaroTypeLibStatus() {
    ITypeLib* pLib = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_VAROLib, 1, 0, 0, &pLib);
    if (pLib) pLib->Release();
    return hr;
}

void SetBytes(VARIANT* pVar, const std::string& bytes) {
    VariantClear(pVar);
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    pVar->parray = SafeArrayCreate(VT_UI1, 1, &bound);
    pVar->vt = VT_ARRAY | VT_UI1;
    void* pv = nullptr;
    if (pVar->parray && SUCCEEDED(SafeArrayAccessData(pVar->parray, &pv))) {
        if (!bytes.empty()) std::memcpy(pv, bytes.data(), bytes.size());
        SafeArrayUnaccessData(pVar->parray);
    }
}

void SetString(VARIANT* pVar, const std::wstring& text) {
    VariantClear(pVar);
    pVar->vt = VT_BSTR;
    pVar->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::wstring StringOf(const VARIANT& var) {
    if (var.vt != VT_BSTR || !var.bstrVal) return std::wstring();
    return std::wstring(var.bstrVal, SysStringLen(var.bstrVal));
}

ScriptCall::~ScriptCall() {
    for (VARIANT& var : m_owned) VariantClear(&var);
    VariantClear(&result);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);
}

ScriptCall& ScriptCall::Var(ScriptVariable& variable) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_VARIANT;
    arg.pvarVal = variable.get();
    m_args.push_back(arg);
    return *this;
}

ScriptCall& ScriptCall::Literal(const std::wstring& text) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    m_args.push_back(arg);
    m_owned.push_back(arg);
    return *this;
}

ScriptCall& ScriptCall::NullString() {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = nullptr;
    m_args.push_back(arg);
    return *this;
}

HRESULT ScriptCall::Run(IDispatch* pDispatch, const wchar_t* pszName) {
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(pszName);
    HRESULT hr = pDispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    return RunId(pDispatch, dispid);
}

HRESULT ScriptCall::RunId(IDispatch* pDispatch, DISPID dispid, REFIID riid) {
    std::vector<VARIANT> reversed(m_args.rbegin(), m_args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return pDispatch->Invoke(dispid, riid, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                             &result, &excepInfo, &uArgErr);
}


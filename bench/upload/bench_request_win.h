// What the VARO.Upload benchmarks under Wine share: a page's Request over a
// body file, late-bound calls by name as a script makes them, and a few
// file helpers.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "platform/com_ptr.h"
#include "platform/win32_owners.h"
#include "varo.h"

namespace bench_request {

constexpr LONG kPiece = 256 * 1024;

// The body's size in MiB (--mib=N): 1024 unless given as 1 to 1800, as a
// page's TotalBytes is a long.
inline ULONGLONG BodyMib(int argc, char** argv) {
    const long long cMib = bench_options::Option(argc, argv, "mib", 1024, 0);
    return cMib < 1 || cMib > 1800 ? 1024 : static_cast<ULONGLONG>(cMib);
}

enum : DISPID { kTotalBytes = 1, kBinaryRead };

// A page's Request over a body file: TotalBytes, and BinaryRead(count) that
// gives the next count bytes and sets a by-reference count to what it gave.
class BodyRequest : public IDispatch {
public:
    BodyRequest(HANDLE hFile, ULONGLONG cbTotal) : m_hFile(hFile), m_cbTotal(cbTotal) {}

    bool Rewind() {
        LARGE_INTEGER start = {};
        m_cbLeft = m_cbTotal;
        m_cCalls = 0;
        m_cbLargest = 0;
        return SetFilePointerEx(m_hFile, start, nullptr, FILE_BEGIN) != FALSE;
    }
    ULONG Calls() const { return m_cCalls; }
    LONG Largest() const { return m_cbLargest; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    // Lives on the caller's stack: the count only shows a lost reference.
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_cRef)); }
    LONG References() const { return m_cRef; }

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo) *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
        if (cNames != 1) return DISP_E_UNKNOWNNAME;
        if (lstrcmpiW(rgszNames[0], L"TotalBytes") == 0) {
            rgDispId[0] = kTotalBytes;
        } else if (lstrcmpiW(rgszNames[0], L"BinaryRead") == 0) {
            rgDispId[0] = kBinaryRead;
        } else {
            rgDispId[0] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD wFlags, DISPPARAMS* pdp, VARIANT* pvarResult, EXCEPINFO*,
                        UINT*) override {
        if (!pvarResult) return E_POINTER;
        VariantInit(pvarResult);
        if (dispid == kTotalBytes && (wFlags & DISPATCH_PROPERTYGET) && pdp->cArgs == 0) {
            V_VT(pvarResult) = VT_I4;
            V_I4(pvarResult) = static_cast<LONG>(m_cbTotal);
            return S_OK;
        }
        if (dispid != kBinaryRead || !(wFlags & DISPATCH_METHOD) || pdp->cArgs != 1) return DISP_E_MEMBERNOTFOUND;
        return BinaryRead(&pdp->rgvarg[0], pvarResult);
    }

private:
    HRESULT BinaryRead(VARIANT* pvarCount, VARIANT* pvarResult) {
        ScopedVariant count;
        HRESULT hr = VariantCopyInd(count.get(), pvarCount);
        if (SUCCEEDED(hr)) hr = VariantChangeType(count.get(), count.get(), 0, VT_I4);
        if (FAILED(hr)) return hr;
        if (V_I4(count.get()) < 0) return E_INVALIDARG;
        DWORD cb = static_cast<DWORD>(V_I4(count.get()));
        if (cb > m_cbLeft) cb = static_cast<DWORD>(m_cbLeft);
        SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, cb);
        if (!psa) return E_OUTOFMEMORY;
        V_VT(pvarResult) = VT_ARRAY | VT_UI1;
        V_ARRAY(pvarResult) = psa;
        DWORD cbRead = 0;
        if (cb && (!ReadFile(m_hFile, psa->pvData, cb, &cbRead, nullptr) || cbRead != cb)) return E_FAIL;
        m_cbLeft -= cb;
        ++m_cCalls;
        if (static_cast<LONG>(cb) > m_cbLargest) m_cbLargest = static_cast<LONG>(cb);
        if (V_VT(pvarCount) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(pvarCount)) {
            VariantClear(V_VARIANTREF(pvarCount));
            V_VT(V_VARIANTREF(pvarCount)) = VT_I4;
            V_I4(V_VARIANTREF(pvarCount)) = static_cast<LONG>(cb);
        } else if (V_VT(pvarCount) == (VT_BYREF | VT_I4) && V_I4REF(pvarCount)) {
            *V_I4REF(pvarCount) = static_cast<LONG>(cb);
        }
        return S_OK;
    }

    HANDLE m_hFile;
    ULONGLONG m_cbTotal;
    ULONGLONG m_cbLeft = 0;
    ULONG m_cCalls = 0;
    LONG m_cbLargest = 0;
    LONG m_cRef = 1;
};

inline std::string Narrow(const wchar_t* psz) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    std::string s(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1) WideCharToMultiByte(CP_UTF8, 0, psz, -1, &s[0], cb, nullptr, nullptr);
    return s;
}

// A late-bound call by name, arguments in the order a script writes them;
// false with the reason printed.
inline bool Call(IDispatch* pdisp, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT*> args, VARIANT* pvarResult) {
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(pszName);
    HRESULT hr = pdisp->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
    std::vector<VARIANT> reversed;
    for (size_t i = args.size(); i-- > 0;) reversed.push_back(*args[i]);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS dp = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (wFlags == DISPATCH_PROPERTYPUT) {
        dp.rgdispidNamedArgs = &named;
        dp.cNamedArgs = 1;
    }
    EXCEPINFO info;
    std::memset(&info, 0, sizeof info);
    ScopedVariant scratch;
    if (SUCCEEDED(hr))
        hr = pdisp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &dp,
                           pvarResult ? pvarResult : scratch.get(), &info, nullptr);
    if (FAILED(hr)) {
        std::printf("%s failed: 0x%08lx %s\n", Narrow(pszName).c_str(), static_cast<unsigned long>(hr),
                    info.bstrDescription ? Narrow(info.bstrDescription).c_str() : "");
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return SUCCEEDED(hr);
}

inline ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Files left in a folder (the temporary files of a released object).
inline int FilesIn(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return 0;
    int n = 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
    } while (FindNextFileW(find.get(), &data));
    return n;
}

inline std::wstring Wide(const char* psz) {
    int cch = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    std::wstring s(cch > 0 ? cch - 1 : 0, L'\0');
    if (cch > 1) MultiByteToWideChar(CP_ACP, 0, psz, -1, &s[0], cch);
    return s;
}

// A form with one file part of cbFile pseudo-random bytes.
inline bool WriteOneFileBody(const std::wstring& path, ULONGLONG cbFile, const char* pszBoundary) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::string head = std::string("--") + pszBoundary +
                       "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"large.bin\"\r\n"
                       "Content-Type: application/octet-stream\r\n\r\n";
    std::string tail = std::string("\r\n--") + pszBoundary + "--\r\n";
    DWORD cb = 0;
    if (!WriteFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &cb, nullptr)) return false;
    std::vector<unsigned> piece(1 << 18);
    unsigned state = 2463534242u;
    for (ULONGLONG cbLeft = cbFile; cbLeft > 0;) {
        for (unsigned& word : piece) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            word = state;
        }
        const DWORD cbPiece = static_cast<DWORD>(cbLeft < piece.size() * 4 ? cbLeft : piece.size() * 4);
        if (!WriteFile(file.get(), piece.data(), cbPiece, &cb, nullptr) || cb != cbPiece) return false;
        cbLeft -= cbPiece;
    }
    return WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &cb, nullptr) != FALSE;
}

inline bool PutText(IDispatch* pdisp, const wchar_t* pszName, const wchar_t* pszValue) {
    ScopedVariant value;
    V_VT(value.get()) = VT_BSTR;
    V_BSTR(value.get()) = SysAllocString(pszValue);
    return Call(pdisp, pszName, DISPATCH_PROPERTYPUT, {value.get()}, nullptr);
}

// Upload's class object from a loaded VARO.DLL; false when it has none.
inline bool UploadClassObject(HMODULE hDll, IClassFactory** ppFactory) {
    auto pfnGetClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(hDll ? GetProcAddress(hDll, "DllGetClassObject") : nullptr));
    return pfnGetClassObject &&
           SUCCEEDED(pfnGetClassObject(CLSID_Upload, IID_IClassFactory, reinterpret_cast<void**>(ppFactory)));
}

}  // namespace bench_request

// VARO.Upload's LoadRequest and SaveAs of a large upload under Wine, called
// late-bound as a page calls them, against what taking the request cannot
// avoid: copying the same bytes from the same request object into one file
// (BinaryRead in the same 256 KB pieces, each piece written with WriteFile).
// The request object reads a body file as a server reads the connection. The
// two run in rounds, each first in every other round (an even number of
// rounds weighs both orders alike); prints each round, the median times, the
// median of the rounds' ratios and the ratio of the fastest rounds, measured
// in this run.
//   wine upload_stream_bench_win.exe DLL_PATH BODYFILE WORKDIR [--runs=N]
// WORKDIR takes the temporary, saved and copied files (the temporary folder
// is on the saved file's volume, as a server's would be); each is deleted.
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/formscan/bench_timing_win.h"
#include "platform/com_ptr.h"
#include "platform/win32_owners.h"
#include "varo.h"

namespace {

using bench_timing::Median;
using bench_timing::Seconds;

const LONG kPiece = 256 * 1024;

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

std::string Narrow(const wchar_t* psz) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    std::string s(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1) WideCharToMultiByte(CP_UTF8, 0, psz, -1, &s[0], cb, nullptr, nullptr);
    return s;
}

// A late-bound call by name, arguments in the order a script writes them;
// false with the reason printed.
bool Call(IDispatch* pdisp, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT*> args, VARIANT* pvarResult) {
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

ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Files left in a folder (the temporary files of a released object).
int FilesIn(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return 0;
    int n = 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
    } while (FindNextFileW(find.get(), &data));
    return n;
}

struct UploadTimes {
    double dLoad = 0;   // LoadRequest
    double dSave = 0;   // SaveAs
    double dTotal = 0;  // both and the object's release
};

// One request as a page takes it: a new object, LoadRequest, the file saved
// with SaveAs, the object released. False with the reason printed.
bool UploadOnce(IClassFactory* pFactory, BodyRequest& request, const std::wstring& tempFolder,
                const std::wstring& savedPath, UploadTimes& times, ULONGLONG& cbSaved) {
    DeleteFileW(savedPath.c_str());
    if (!request.Rewind()) return false;
    const double t0 = Seconds();
    ComPtr<IDispatch> upload;
    if (FAILED(pFactory->CreateInstance(nullptr, IID_IDispatch, upload.put_void()))) return false;
    ScopedVariant folder, requestArg, name, path, file;
    V_VT(folder.get()) = VT_BSTR;
    V_BSTR(folder.get()) = SysAllocString(tempFolder.c_str());
    if (!Call(upload.get(), L"TempFolder", DISPATCH_PROPERTYPUT, {folder.get()}, nullptr)) return false;
    V_VT(requestArg.get()) = VT_DISPATCH;
    V_DISPATCH(requestArg.get()) = &request;
    request.AddRef();
    if (!Call(upload.get(), L"LoadRequest", DISPATCH_METHOD, {requestArg.get()}, nullptr)) return false;
    const double t1 = Seconds();
    V_VT(name.get()) = VT_BSTR;
    V_BSTR(name.get()) = SysAllocString(L"file");
    V_VT(path.get()) = VT_BSTR;
    V_BSTR(path.get()) = SysAllocString(savedPath.c_str());
    if (!Call(upload.get(), L"File", DISPATCH_METHOD, {name.get()}, file.get()) || V_VT(file.get()) != VT_DISPATCH ||
        !V_DISPATCH(file.get()) || !Call(V_DISPATCH(file.get()), L"SaveAs", DISPATCH_METHOD, {path.get()}, nullptr))
        return false;
    const double t2 = Seconds();
    VariantClear(file.get());
    upload.reset();
    const double t3 = Seconds();
    times = UploadTimes{t1 - t0, t2 - t1, t3 - t0};
    cbSaved = FileSize(savedPath);
    return true;
}

// The same bytes from the same request into one file: the pieces LoadRequest
// asks for, each written as it comes.
bool CopyOnce(BodyRequest& request, const std::wstring& copyPath, double& dSeconds) {
    if (!request.Rewind()) return false;
    const double t0 = Seconds();
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(L"BinaryRead");
    if (FAILED(request.GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid))) return false;
    // A new file, as the temporary file is: replacing one would add the file
    // system's flush on close (ext4 does so after a truncation).
    UniqueFileHandle out(
        CreateFileW(copyPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    for (;;) {
        ScopedVariant count, piece;
        V_VT(count.get()) = VT_I4;
        V_I4(count.get()) = kPiece;
        VARIANT arg;
        V_VT(&arg) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&arg) = count.get();
        DISPPARAMS dp = {&arg, nullptr, 1, 0};
        if (FAILED(request.Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, piece.get(), nullptr,
                                  nullptr)))
            return false;
        const DWORD cb = static_cast<DWORD>(V_I4(count.get()));
        if (cb == 0) break;
        DWORD cbWritten = 0;
        if (!WriteFile(out.get(), V_ARRAY(piece.get())->pvData, cb, &cbWritten, nullptr) || cbWritten != cb)
            return false;
    }
    out.reset();
    dSeconds = Seconds() - t0;
    return true;
}

std::wstring Wide(const char* psz) {
    int cch = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    std::wstring s(cch > 0 ? cch - 1 : 0, L'\0');
    if (cch > 1) MultiByteToWideChar(CP_ACP, 0, psz, -1, &s[0], cch);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: upload_stream_bench_win DLL_PATH BODYFILE WORKDIR [--runs=N]\n");
        return 2;
    }
    int nRuns = 4;
    for (int i = 4; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--runs=", 7)) nRuns = std::atoi(argv[i] + 7);
    }
    if (nRuns < 1) nRuns = 1;
    const std::wstring bodyPath = Wide(argv[2]), work = Wide(argv[3]);
    const std::wstring tempFolder = work + L"\\tmp", savedPath = work + L"\\saved.bin", copyPath = work + L"\\copy.bin";
    CreateDirectoryW(tempFolder.c_str(), nullptr);

    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = 1;
    {
        UniqueLibrary dll(LoadLibraryA(argv[1]));
        auto pfnGetClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(dll ? GetProcAddress(dll.get(), "DllGetClassObject") : nullptr));
        ComPtr<IClassFactory> factory;
        UniqueFileHandle body(CreateFileW(bodyPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER cbBody = {};
        if (!pfnGetClassObject || FAILED(pfnGetClassObject(CLSID_Upload, IID_IClassFactory, factory.put_void()))) {
            std::printf("cannot load %s\n", argv[1]);
        } else if (!body || !GetFileSizeEx(body.get(), &cbBody) || cbBody.QuadPart > 0x7FFFFFFF) {
            std::printf("cannot read %s (or it is 2 GiB or more)\n", argv[2]);
        } else {
            BodyRequest request(body.get(), static_cast<ULONGLONG>(cbBody.QuadPart));
            std::vector<double> loads, saves, uploads, copies, ratios;
            bool bOk = true;
            ULONG cCalls = 0;
            LONG cbLargest = 0;
            for (int r = 0; r < nRuns && bOk; ++r) {
                UploadTimes times;
                ULONGLONG cbSaved = 0;
                double dCopy = 0;
                // Each goes first in every other round, so what one leaves to
                // the system (pages to write back, files to free) weighs on both.
                for (int step = 0; step < 2 && bOk; ++step) {
                    if ((step == 0) == (r % 2 == 0)) {
                        bOk = UploadOnce(factory.get(), request, tempFolder, savedPath, times, cbSaved);
                        cCalls = request.Calls();
                        cbLargest = request.Largest();
                        // The body is one file part and its few hundred bytes
                        // of headers: a saved file short of that was cut.
                        if (bOk && (cbSaved > static_cast<ULONGLONG>(cbBody.QuadPart) ||
                                    cbSaved + 1024 < static_cast<ULONGLONG>(cbBody.QuadPart))) {
                            std::printf("the saved file has %llu bytes of a %lld-byte body\n", cbSaved,
                                        cbBody.QuadPart);
                            bOk = false;
                        }
                        if (bOk && FilesIn(tempFolder) != 0) {
                            std::printf("temporary files were left in the temporary folder\n");
                            bOk = false;
                        }
                        DeleteFileW(savedPath.c_str());
                    } else {
                        bOk = CopyOnce(request, copyPath, dCopy) &&
                              FileSize(copyPath) == static_cast<ULONGLONG>(cbBody.QuadPart);
                        DeleteFileW(copyPath.c_str());
                    }
                }
                if (!bOk) break;
                std::printf("round %d (%s first): LoadRequest+SaveAs %.1f ms, copy %.1f ms\n", r + 1,
                            r % 2 == 0 ? "LoadRequest" : "copy", times.dTotal * 1e3, dCopy * 1e3);
                loads.push_back(times.dLoad);
                saves.push_back(times.dSave);
                uploads.push_back(times.dTotal);
                copies.push_back(dCopy);
                ratios.push_back(times.dTotal / dCopy);
            }
            if (!bOk || request.References() != 1) {
                std::printf("the upload run failed%s\n", request.References() != 1 ? " (a request reference lost)" : "");
            } else {
                std::printf("body %lld bytes, %d runs; LoadRequest read it in %lu pieces of up to %ld bytes\n",
                            cbBody.QuadPart, nRuns, cCalls, cbLargest);
                std::printf("LoadRequest               %9.1f ms\n", Median(loads) * 1e3);
                std::printf("SaveAs                    %9.1f ms\n", Median(saves) * 1e3);
                std::printf("LoadRequest+SaveAs        %9.1f ms\n", Median(uploads) * 1e3);
                std::printf("copy (BinaryRead+WriteFile) %7.1f ms\n", Median(copies) * 1e3);
                std::printf("ratio                     %9.2fx\n", Median(ratios));
                std::printf("ratio of the fastest rounds %7.2fx\n",
                            *std::min_element(uploads.begin(), uploads.end()) /
                                *std::min_element(copies.begin(), copies.end()));
                status = 0;
            }
        }
    }
    RemoveDirectoryW(tempFolder.c_str());
    CoUninitialize();
    return status;
}

// VARO.Upload's Load of a large body with one file part, through the vtable
// of the built DLL under Wine, against the cost it cannot avoid: copying the
// body once. Prints the median times of the runs and their ratio, measured
// in this run.
//   wine upload_bench_win.exe DLL_PATH [--file-mb=N] [--runs=N]
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/formscan/bench_timing_win.h"
#include "varo.h"

namespace {
using bench_timing::Seconds;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A form with a title field and one file of cbFile random bytes.
SAFEARRAY* MakeBody(std::size_t cbFile) {
    const std::string boundary = "----VaroBenchBoundary5c2e";
    const std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nbench\r\n--" +
                             boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n" +
                             "Content-Type: application/octet-stream\r\n\r\n";
    const std::string tail = "\r\n--" + boundary + "--\r\n";
    SAFEARRAYBOUND bound{static_cast<ULONG>(head.size() + cbFile + tail.size()), 0};
    SAFEARRAY* psa = SafeArrayCreate(VT_UI1, 1, &bound);
    unsigned char* pb = nullptr;
    if (!psa || FAILED(SafeArrayAccessData(psa, reinterpret_cast<void**>(&pb)))) return nullptr;
    std::memcpy(pb, head.data(), head.size());
    unsigned state = 12345;
    for (std::size_t i = 0; i < cbFile; ++i) {
        state = state * 1103515245u + 12345u;
        pb[head.size() + i] = static_cast<unsigned char>(state >> 24);
    }
    std::memcpy(pb + head.size() + cbFile, tail.data(), tail.size());
    SafeArrayUnaccessData(psa);
    return psa;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: upload_bench_win DLL_PATH [--file-mb=N] [--runs=N]\n");
        return 2;
    }
    const int nFileMb = static_cast<int>(bench_options::Option(argc, argv, "file-mb", 100));
    const int nRuns = static_cast<int>(bench_options::Option(argc, argv, "runs", 7));
    CoInitialize(nullptr);
    HMODULE hDll = LoadLibraryA(argv[1]);
    auto pfnGetClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(hDll, "DllGetClassObject")));
    IClassFactory* pFactory = nullptr;
    if (!pfnGetClassObject ||
        FAILED(pfnGetClassObject(CLSID_Upload, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)))) {
        std::printf("cannot load %s\n", argv[1]);
        return 1;
    }
    VARIANT body;
    VariantInit(&body);
    body.vt = VT_ARRAY | VT_UI1;
    body.parray = MakeBody(static_cast<std::size_t>(nFileMb) << 20);
    if (!body.parray) return 1;
    const ULONG cbBody = body.parray->rgsabound[0].cElements;

    std::vector<double> loads, copies;
    for (int r = 0; r < nRuns; ++r) {
        // A fresh object each run, as each request has its own.
        IUpload* pUpload = nullptr;
        pFactory->CreateInstance(nullptr, IID_IUpload, reinterpret_cast<void**>(&pUpload));
        double t0 = Seconds();
        HRESULT hr = pUpload->Load(&body);
        loads.push_back(Seconds() - t0);
        LONG lCount = 0;
        pUpload->get_Count(&lCount);
        pUpload->Release();
        if (FAILED(hr) || lCount != 2) {
            std::printf("Load failed: 0x%08lx, %ld parts\n", static_cast<unsigned long>(hr), static_cast<long>(lCount));
            return 1;
        }
        // The copy the load cannot avoid: into a new block, whose pages are
        // touched for the first time, as the loaded form's are.
        unsigned char* pb = nullptr;
        SafeArrayAccessData(body.parray, reinterpret_cast<void**>(&pb));
        t0 = Seconds();
        void* pvCopy = HeapAlloc(GetProcessHeap(), 0, cbBody);
        if (pvCopy) std::memcpy(pvCopy, pb, cbBody);
        copies.push_back(Seconds() - t0);
        HeapFree(GetProcessHeap(), 0, pvCopy);
        SafeArrayUnaccessData(body.parray);
    }
    const double load = Median(loads), once = Median(copies);
    std::printf("body %lu bytes (one file of %d MiB), %d runs\n", static_cast<unsigned long>(cbBody), nFileMb, nRuns);
    std::printf("Load            %8.1f ms\n", load * 1e3);
    std::printf("copy once       %8.1f ms\n", once * 1e3);
    std::printf("Load / copy     %8.2fx\n", load / once);
    VariantClear(&body);
    pFactory->Release();
    FreeLibrary(hDll);
    CoUninitialize();
    return 0;
}

// What keeping an upload's progress costs VARO.Upload under Wine, late-bound
// as a page calls it: LoadRequest of one large file with a ProgressID
// against the same LoadRequest without one, in alternating rounds measured
// in this run, with the ratio of their medians (the aim: within 1.05x).
//   wine progress_bench_win.exe DLL_PATH WORKDIR [--mib=N] [--runs=N]
// WORKDIR takes the generated body and the temporary files; each is deleted.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/formscan/bench_timing_win.h"
#include "bench/upload/bench_request_win.h"
#include "varo.h"

namespace {

using bench_timing::Median;
using bench_timing::Seconds;
using namespace bench_request;

const char kBoundary[] = "----VaroProgressBench41d9";

// One LoadRequest by a new Upload object, with pszId as its ProgressID
// (empty: none); false with the reason printed.
bool LoadOnce(IClassFactory* pFactory, BodyRequest& request, const std::wstring& tempFolder, const wchar_t* pszId) {
    ComPtr<IDispatch> upload;
    if (!request.Rewind() || FAILED(pFactory->CreateInstance(nullptr, IID_IDispatch, upload.put_void())))
        return false;
    ScopedVariant requestArg;
    V_VT(requestArg.get()) = VT_DISPATCH;
    V_DISPATCH(requestArg.get()) = &request;
    request.AddRef();
    return PutText(upload.get(), L"TempFolder", tempFolder.c_str()) && PutText(upload.get(), L"ProgressID", pszId) &&
           Call(upload.get(), L"LoadRequest", DISPATCH_METHOD, {requestArg.get()}, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: progress_bench_win DLL_PATH WORKDIR [--mib=N] [--runs=N]\n");
        return 2;
    }
    const ULONGLONG cMib = BodyMib(argc, argv);
    const int nRuns = static_cast<int>(bench_options::Option(argc, argv, "runs", 5));
    const std::wstring work = Wide(argv[2]), tempFolder = work + L"\\tmp";
    const std::wstring bodyPath = work + L"\\progress-body.bin";
    CreateDirectoryW(tempFolder.c_str(), nullptr);
    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = 1;
    {
        UniqueLibrary dll(LoadLibraryA(argv[1]));
        ComPtr<IClassFactory> factory;
        if (!UploadClassObject(dll.get(), factory.put())) {
            std::printf("cannot load %s\n", argv[1]);
        } else if (!WriteOneFileBody(bodyPath, cMib << 20, kBoundary)) {
            std::printf("cannot write the body in %s\n", argv[2]);
        } else {
            UniqueFileHandle body(CreateFileW(bodyPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            BodyRequest request(body.get(), FileSize(bodyPath));
            std::vector<double> plain, kept;
            bool bOk = true;
            for (int r = 0; r < nRuns && bOk; ++r) {
                double d[2] = {0, 0};
                // Each round its own id: an ended record is kept a while.
                const std::wstring id = L"bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(r);
                for (int step = 0; step < 2 && bOk; ++step) {
                    const bool bKept = (step == 0) == (r % 2 == 0);
                    const double t0 = Seconds();
                    bOk = LoadOnce(factory.get(), request, tempFolder, bKept ? id.c_str() : L"");
                    d[bKept] = Seconds() - t0;
                }
                if (!bOk) break;
                std::printf("round %d: LoadRequest %.1f ms, with ProgressID %.1f ms\n", r + 1, d[0] * 1e3,
                            d[1] * 1e3);
                plain.push_back(d[0]);
                kept.push_back(d[1]);
            }
            if (bOk) {
                std::printf("LoadRequest of a %llu MiB file, %d rounds (%lu BinaryRead calls each)\n", cMib, nRuns,
                            request.Calls());
                std::printf("    without a ProgressID           %9.1f ms\n", Median(plain) * 1e3);
                std::printf("    with a ProgressID              %9.1f ms\n", Median(kept) * 1e3);
                std::printf("    ratio of the medians           %9.3fx\n", Median(kept) / Median(plain));
                status = 0;
            }
        }
    }
    DeleteFileW(bodyPath.c_str());
    RemoveDirectoryW(tempFolder.c_str());
    CoUninitialize();
    return status;
}

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

#include "bench/bench_options.h"
#include "bench/formscan/bench_timing_win.h"
#include "bench/upload/bench_request_win.h"
#include "platform/com_ptr.h"
#include "platform/win32_owners.h"
#include "varo.h"

namespace {

using bench_timing::Median;
using bench_timing::Seconds;
using namespace bench_request;

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: upload_stream_bench_win DLL_PATH BODYFILE WORKDIR [--runs=N]\n");
        return 2;
    }
    const int nRuns = static_cast<int>(bench_options::Option(argc, argv, "runs", 4));
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

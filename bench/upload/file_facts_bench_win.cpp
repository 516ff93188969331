// What knowing a file costs VARO.Upload under Wine, late-bound as a page
// calls it, in alternating rounds measured in this run:
//  (a) LoadRequest of one large file with HashWhileLoading = "SHA256"
//      against the same LoadRequest without it (and, for reference, the
//      system's SHA-256 over the same bytes in memory, which bounds it);
//  (b) DetectedType, ImageWidth and ImageHeight of every file of a form of
//      many small files against three of their name properties (Name,
//      FileName, ClientPath): the facts are learnt while the form loads, so
//      asking for them reads no file.
//   wine file_facts_bench_win.exe DLL_PATH WORKDIR [--mib=N] [--files=N] [--runs=N]
// WORKDIR takes the generated bodies and the temporary files; each is deleted.
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

const char kBoundary[] = "----VaroFactsBench7c2e";

// A form of nFiles small files, a PNG, a JPEG, a GIF and text in turn.
bool WriteManyFilesBody(const std::wstring& path, int nFiles) {
    static const std::string kContents[] = {
        std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x02\x80\0\0\x01\xE0\x08\x06\0\0\0\x35\xD1\xDC\xE4", 33),
        std::string("\xFF\xD8\xFF\xC0\0\x11\x08\x01\xE0\x02\x80\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 21),
        std::string("GIF89a\x80\x02\xE0\x01\0\0\0", 13),
        std::string("plain text\r\n"),
    };
    std::string body;
    for (int i = 0; i < nFiles; ++i) {
        body += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) +
                "\"; filename=\"file" + std::to_string(i) + ".bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                kContents[i % 4] + "\r\n";
    }
    body += std::string("--") + kBoundary + "--\r\n";
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD cb = 0;
    return file && WriteFile(file.get(), body.data(), static_cast<DWORD>(body.size()), &cb, nullptr) &&
           cb == body.size();
}

bool PutLong(IDispatch* pdisp, const wchar_t* pszName, LONG lValue) {
    ScopedVariant value;
    V_VT(value.get()) = VT_I4;
    V_I4(value.get()) = lValue;
    return Call(pdisp, pszName, DISPATCH_PROPERTYPUT, {value.get()}, nullptr);
}

// A new Upload object that has read the request (the caller's to release);
// null with the reason printed.
IDispatch* LoadedUpload(IClassFactory* pFactory, BodyRequest& request, const std::wstring& tempFolder,
                        const wchar_t* pszHash, LONG lMaxParts) {
    ComPtr<IDispatch> upload;
    if (!request.Rewind() || FAILED(pFactory->CreateInstance(nullptr, IID_IDispatch, upload.put_void())))
        return nullptr;
    ScopedVariant requestArg;
    V_VT(requestArg.get()) = VT_DISPATCH;
    V_DISPATCH(requestArg.get()) = &request;
    request.AddRef();
    if (!PutText(upload.get(), L"TempFolder", tempFolder.c_str()) || !PutText(upload.get(), L"HashWhileLoading", pszHash) ||
        !PutLong(upload.get(), L"MaxParts", lMaxParts) ||
        !Call(upload.get(), L"LoadRequest", DISPATCH_METHOD, {requestArg.get()}, nullptr))
        return nullptr;
    return upload.detach();
}

// The form's files, as the array Files gives (VARIANTs holding IDispatch).
bool FileArray(IDispatch* pUpload, VARIANT* pvarFiles) {
    return Call(pUpload, L"Files", DISPATCH_PROPERTYGET, {}, pvarFiles) && V_VT(pvarFiles) == (VT_ARRAY | VT_VARIANT);
}

// Reads three properties of every file; false when one fails.
bool ReadAll(const VARIANT& files, const wchar_t* const (&names)[3]) {
    const VARIANT* pElements = static_cast<const VARIANT*>(V_ARRAY(&files)->pvData);
    for (ULONG i = 0; i < V_ARRAY(&files)->rgsabound[0].cElements; ++i) {
        for (const wchar_t* pszName : names) {
            ScopedVariant value;
            if (!Call(V_DISPATCH(&pElements[i]), pszName, DISPATCH_PROPERTYGET, {}, value.get())) return false;
        }
    }
    return true;
}

double SystemSha256Seconds(ULONGLONG cb) {
    // The system's own SHA-256 over the same count of bytes in memory: what
    // hashing while loading cannot beat.
    HMODULE hBcrypt = LoadLibraryW(L"bcrypt.dll");
    typedef LONG(WINAPI * PFNOPEN)(void**, LPCWSTR, LPCWSTR, ULONG);
    typedef LONG(WINAPI * PFNCREATE)(void*, void**, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
    typedef LONG(WINAPI * PFNDATA)(void*, PUCHAR, ULONG, ULONG);
    typedef LONG(WINAPI * PFNFINISH)(void*, PUCHAR, ULONG, ULONG);
    typedef LONG(WINAPI * PFNDESTROY)(void*);
    typedef LONG(WINAPI * PFNCLOSE)(void*, ULONG);
    auto open = reinterpret_cast<PFNOPEN>(reinterpret_cast<void*>(GetProcAddress(hBcrypt, "BCryptOpenAlgorithmProvider")));
    auto create = reinterpret_cast<PFNCREATE>(reinterpret_cast<void*>(GetProcAddress(hBcrypt, "BCryptCreateHash")));
    auto data = reinterpret_cast<PFNDATA>(reinterpret_cast<void*>(GetProcAddress(hBcrypt, "BCryptHashData")));
    auto finish = reinterpret_cast<PFNFINISH>(reinterpret_cast<void*>(GetProcAddress(hBcrypt, "BCryptFinishHash")));
    auto destroy = reinterpret_cast<PFNDESTROY>(reinterpret_cast<void*>(GetProcAddress(hBcrypt, "BCryptDestroyHash")));
    auto close = reinterpret_cast<PFNCLOSE>(reinterpret_cast<void*>(GetProcAddress(hBcrypt, "BCryptCloseAlgorithmProvider")));
    if (!open || !create || !data || !finish || !destroy || !close) return 0;
    std::vector<unsigned char> piece(kPiece, 0x5A);
    void* hAlgorithm = nullptr;
    void* hHash = nullptr;
    unsigned char abDigest[32];
    const double t0 = Seconds();
    open(&hAlgorithm, L"SHA256", nullptr, 0);
    create(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0);
    for (ULONGLONG cbDone = 0; cbDone < cb; cbDone += kPiece) data(hHash, piece.data(), kPiece, 0);
    finish(hHash, abDigest, 32, 0);
    const double dSeconds = Seconds() - t0;
    destroy(hHash);
    close(hAlgorithm, 0);
    FreeLibrary(hBcrypt);
    return dSeconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: file_facts_bench_win DLL_PATH WORKDIR [--mib=N] [--files=N] [--runs=N]\n");
        return 2;
    }
    const ULONGLONG cMib = BodyMib(argc, argv);
    const int nFiles = static_cast<int>(bench_options::Option(argc, argv, "files", 10000));
    const int nRuns = static_cast<int>(bench_options::Option(argc, argv, "runs", 4));
    const std::wstring work = Wide(argv[2]), tempFolder = work + L"\\tmp";
    const std::wstring largeBody = work + L"\\large-body.bin", manyBody = work + L"\\many-files-body.bin";
    CreateDirectoryW(tempFolder.c_str(), nullptr);
    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = 1;
    {
        UniqueLibrary dll(LoadLibraryA(argv[1]));
        ComPtr<IClassFactory> factory;
        if (!UploadClassObject(dll.get(), factory.put())) {
            std::printf("cannot load %s\n", argv[1]);
        } else if (!WriteOneFileBody(largeBody, cMib << 20, kBoundary) || !WriteManyFilesBody(manyBody, nFiles)) {
            std::printf("cannot write the bodies in %s\n", argv[2]);
        } else {
            bool bOk = true;
            std::vector<double> plain, hashed, ratios;
            {
                UniqueFileHandle body(CreateFileW(largeBody.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
                BodyRequest request(body.get(), FileSize(largeBody));
                for (int r = 0; r < nRuns && bOk; ++r) {
                    double d[2] = {0, 0};
                    for (int step = 0; step < 2 && bOk; ++step) {
                        const bool bHash = (step == 0) == (r % 2 == 0);
                        const double t0 = Seconds();
                        IDispatch* pUpload = LoadedUpload(factory.get(), request, tempFolder, bHash ? L"SHA256" : L"", 0);
                        bOk = pUpload != nullptr;
                        if (pUpload) pUpload->Release();  // and its temporary file with it
                        d[bHash] = Seconds() - t0;
                    }
                    if (!bOk) break;
                    std::printf("round %d: LoadRequest %.1f ms, with SHA-256 while loading %.1f ms\n", r + 1, d[0] * 1e3,
                                d[1] * 1e3);
                    plain.push_back(d[0]);
                    hashed.push_back(d[1]);
                    ratios.push_back(d[1] / d[0]);
                }
            }
            std::vector<double> names, facts, factRatios;
            if (bOk) {
                UniqueFileHandle body(CreateFileW(manyBody.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
                BodyRequest request(body.get(), FileSize(manyBody));
                ComPtr<IDispatch> upload;
                upload.attach(LoadedUpload(factory.get(), request, tempFolder, L"", nFiles + 1));
                ScopedVariant files;
                static const wchar_t* const kNames[3] = {L"Name", L"FileName", L"ClientPath"};
                static const wchar_t* const kFacts[3] = {L"DetectedType", L"ImageWidth", L"ImageHeight"};
                bOk = upload && FileArray(upload.get(), files.get()) &&
                      V_ARRAY(files.get())->rgsabound[0].cElements == static_cast<ULONG>(nFiles);
                if (!bOk) std::printf("the form of %d files did not load as %d files\n", nFiles, nFiles);
                for (int r = 0; r < nRuns && bOk; ++r) {
                    double d[2] = {0, 0};
                    for (int step = 0; step < 2 && bOk; ++step) {
                        const bool bFacts = (step == 0) == (r % 2 == 0);
                        const double t0 = Seconds();
                        bOk = ReadAll(*files.get(), bFacts ? kFacts : kNames);
                        d[bFacts] = Seconds() - t0;
                    }
                    names.push_back(d[0]);
                    facts.push_back(d[1]);
                    factRatios.push_back(d[1] / d[0]);
                }
            }
            if (bOk) {
                const double dSystem = SystemSha256Seconds(cMib << 20);
                std::printf("(a) LoadRequest of a %llu MiB file, %d rounds\n", cMib, nRuns);
                std::printf("    without a hash                 %9.1f ms\n", Median(plain) * 1e3);
                std::printf("    HashWhileLoading = \"SHA256\"    %9.1f ms\n", Median(hashed) * 1e3);
                std::printf("    ratio                          %9.2fx\n", Median(ratios));
                std::printf("    the system's SHA-256 alone     %9.1f ms (%.0f MB/s)\n", dSystem * 1e3,
                            dSystem > 0 ? (cMib << 20) / dSystem / 1e6 : 0.0);
                std::printf("(b) %d files: three properties of each, %d rounds\n", nFiles, nRuns);
                std::printf("    Name, FileName, ClientPath     %9.1f ms\n", Median(names) * 1e3);
                std::printf("    DetectedType, ImageWidth/Height %8.1f ms\n", Median(facts) * 1e3);
                std::printf("    ratio                          %9.2fx\n", Median(factRatios));
                status = 0;
            } else {
                std::printf("the run failed\n");
            }
        }
    }
    DeleteFileW(largeBody.c_str());
    DeleteFileW(manyBody.c_str());
    RemoveDirectoryW(tempFolder.c_str());
    CoUninitialize();
    return status;
}

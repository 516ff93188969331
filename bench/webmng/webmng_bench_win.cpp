// Method-level benchmark of VARO.DLL under Wine: the release DLL loaded by
// path, WebMng called through its vtable as a page's script engine calls it.
// Each case is two operations timed in alternating rounds; the ratio is the
// median of the rounds' ratios, so load on the machine weighs on both alike.
//   wine webmng_bench_win.exe [--rounds=N]
#include <windows.h>
#include <oleauto.h>

#include "varo.h"

#include "formscan/form_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_options.h"
#include "bench/formscan/bench_bodies.h"
#include "bench/formscan/bench_timing_win.h"

namespace {

using formscan_bench::BenchBody;

std::string DllPath() {
    std::string s = "Z:" + std::string(VARO_DLL_PATH);
    for (char& ch : s)
        if (ch == '/') ch = '\\';
    return s;
}

// The body as the VT_ARRAY|VT_UI1 argument a page passes.
struct ByteArrayArg {
    explicit ByteArrayArg(const std::vector<unsigned char>& bytes) {
        VariantInit(&var);
        var.vt = VT_ARRAY | VT_UI1;
        var.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* pv = nullptr;
        SafeArrayAccessData(var.parray, &pv);
        std::memcpy(pv, bytes.data(), bytes.size());
        SafeArrayUnaccessData(var.parray);
    }
    ~ByteArrayArg() { VariantClear(&var); }
    VARIANT var;
};

// A small form as a browser sends it: two fields, about 300 bytes.
BenchBody SmallBody() {
    formscan_bench::Random rng(4);
    BenchBody body;
    body.label = "300-byte body";
    formscan_bench::BodyWriter w(rng, body);
    w.TextPart("title", "Holiday photos");
    w.TextPart("comment", "Taken on the coast, with the new camera.");
    w.Close();
    formscan_bench::SetItem(body, "comment");
    body.mode = ScanMode::kTextOnly;
    body.expected = 1;
    return body;
}

const char* Verdict(double dRatio, double dTarget) { return dRatio <= dTarget ? "met" : "NOT met"; }

// One Form call through the vtable, its answer released.
struct FormCall {
    IWebMng* pWebMng;
    VARIANT* pvarBody;
    BSTR bstrItem;
    void operator()() const {
        BSTR bstr = nullptr;
        pWebMng->Form(pvarBody, bstrItem, &bstr);
        SysFreeString(bstr);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int nRounds = static_cast<int>(bench_options::Option(argc, argv, "rounds", 15));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    HMODULE hModule = LoadLibraryA(DllPath().c_str());
    auto pfnGetClassObject = hModule ? reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
                                           reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")))
                                     : nullptr;
    IClassFactory* pFactory = nullptr;
    IWebMng* pWebMng = nullptr;
    if (!pfnGetClassObject || FAILED(pfnGetClassObject(CLSID_WebMng, IID_IClassFactory, reinterpret_cast<void**>(&pFactory))) ||
        FAILED(pFactory->CreateInstance(nullptr, IID_IWebMng, reinterpret_cast<void**>(&pWebMng)))) {
        std::printf("cannot load %s and create WebMng\n", DllPath().c_str());
        return 1;
    }
    std::printf("WebMng through the vtable, release VARO.DLL under Wine, ANSI code page %u (median of %d rounds)\n",
                GetACP(), nRounds);

    // Form of one field sent 3000 times against building its answer alone:
    // one MultiByteToWideChar of the joined text into a SysAllocStringLen
    // string of its size.
    {
        const BenchBody body = formscan_bench::RepeatedField();
        ByteArrayArg arg(body.bytes);
        BSTR bstrItem = SysAllocString(L"tag");
        BSTR bstrAnswer = nullptr;
        if (FAILED(pWebMng->Form(&arg.var, bstrItem, &bstrAnswer)) || !bstrAnswer) {
            std::printf("Form failed\n");
            return 1;
        }
        std::string joined;
        for (UINT i = 0; i < SysStringLen(bstrAnswer); ++i) joined += static_cast<char>(bstrAnswer[i]);
        SysFreeString(bstrAnswer);
        const int cb = static_cast<int>(joined.size());
        const int cch = MultiByteToWideChar(CP_ACP, 0, joined.data(), cb, nullptr, 0);
        const bench_timing::Comparison c = bench_timing::Compare(
            FormCall{pWebMng, &arg.var, bstrItem},
            [&] {
                BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
                MultiByteToWideChar(CP_ACP, 0, joined.data(), cb, bstr, cch);
                SysFreeString(bstr);
            },
            nRounds);
        std::printf("%-40s Form %8.3f ms  answer alone %8.3f ms  %6.2fx (target at most 1.50x): %s\n",
                    "Form, one field 3000 times (1 MB)", c.dSecondsA * 1e3, c.dSecondsB * 1e3, c.dRatio,
                    Verdict(c.dRatio, 1.5));
        SysFreeString(bstrItem);
    }

    // Form on a small body against CreateGUID, both through the vtable.
    {
        const BenchBody body = SmallBody();
        ByteArrayArg arg(body.bytes);
        BSTR bstrItem = SysAllocString(L"comment");
        const bench_timing::Comparison c = bench_timing::Compare(
            FormCall{pWebMng, &arg.var, bstrItem},
            [&] {
                BSTR bstr = nullptr;
                pWebMng->CreateGUID(&bstr);
                SysFreeString(bstr);
            },
            nRounds, 0.02);
        char label[64];
        std::snprintf(label, sizeof label, "Form, %u-byte body", static_cast<unsigned>(body.bytes.size()));
        std::printf("%-40s Form %8.3f us  CreateGUID   %8.3f us  %6.2fx (target at most 1.50x): %s\n", label,
                    c.dSecondsA * 1e6, c.dSecondsB * 1e6, c.dRatio, Verdict(c.dRatio, 1.5));
        SysFreeString(bstrItem);
    }

    pWebMng->Release();
    pFactory->Release();
    FreeLibrary(hModule);
    CoUninitialize();
    return 0;
}

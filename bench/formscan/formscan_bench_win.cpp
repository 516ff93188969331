// Benchmark of the form scanner in the i686 or x86_64 build, run under Wine: ScanForm
// (ByteSearch, SSE2) against the same scan over the plain position-by-
// position search, on the host benchmark's bodies. Prints GB/s (median of
// the runs) and the ratio, both measured in this run; then, for the bodies of
// many parts, the scan's time against the plain search of the closing line
// over the same body.
//   wine formscan_bench_win.exe [--file-mb=N] [--runs=N]
#include <windows.h>

#include "bench/bench_options.h"
#include "formscan/byte_search.h"
#include "formscan/form_scan.h"
#include "formscan/form_scan_impl.h"
#include "platform/module_state.h"
#include "testing/plain_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/formscan/bench_bodies.h"
#include "bench/formscan/bench_timing_win.h"

namespace {

using formscan_bench::BenchBody;

using bench_timing::Seconds;

// GB/s of the median run; each run repeats the scan until 0.2 s have passed.
template <class Scan>
double Measure(const BenchBody& body, int runs, Scan scan) {
    std::unique_ptr<FormScan> record(new FormScan);
    const std::int32_t cb = static_cast<std::int32_t>(body.bytes.size());
    if (scan(body.bytes.data(), cb, body.itemWide.c_str(), record.get(), body.mode) != body.expected) {
        std::printf("unexpected scan result for %s\n", body.label.c_str());
        return 0;
    }
    std::vector<double> rates;
    for (int r = 0; r < runs; ++r) {
        long n = 0;
        const double t0 = Seconds();
        double t = t0;
        do {
            volatile std::int32_t result = scan(body.bytes.data(), cb, body.itemWide.c_str(), record.get(),
                                                body.mode);
            (void)result;
            ++n;
            t = Seconds();
        } while (t - t0 < 0.2);
        rates.push_back(static_cast<double>(cb) * n / (t - t0) / 1e9);
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

template <class Search>
double MeasureSearch(const BenchBody& body, int runs) {
    const std::string tail = body.boundary.substr(body.boundary.find_last_of('-') + 1);
    const std::string pattern = "-" + tail + "--\r\n";
    const auto* pb = reinterpret_cast<const unsigned char*>(pattern.data());
    const std::int32_t m = static_cast<std::int32_t>(pattern.size());
    const std::int32_t cb = static_cast<std::int32_t>(body.bytes.size());
    return Measure(body, runs, [&](const unsigned char* pbBody, std::int32_t cbBody, const char16_t*, FormScan*, ScanMode) {
        return Search::Find(pb, m, pbBody, 0, cbBody) == cb - m ? body.expected : -100;
    });
}

}  // namespace

int main(int argc, char** argv) {
    const long cbFileMb = static_cast<long>(bench_options::Option(argc, argv, "file-mb", 100));
    const int runs = static_cast<int>(bench_options::Option(argc, argv, "runs", 5));
    PlatformFacts facts{VER_PLATFORM_WIN32_NT, 5, 1};
    if (InitModule(nullptr, GetModuleHandleA(nullptr), &facts) != S_OK) return 1;

    const BenchBody bodies[] = {formscan_bench::FieldAfterFile(static_cast<std::size_t>(cbFileMb) << 20),
                                formscan_bench::RepeatedField(), formscan_bench::DistinctFields()};
    std::printf("Form scanner, %s build under Wine, GB/s (median of %d runs)\n", sizeof(void*) == 8 ? "x86_64" : "i686",
                runs);
    std::printf("%-36s %9s %9s %9s\n", "body", "ScanForm", "plain", "/plain");
    double bigRatio = 0;
    for (const BenchBody& body : bodies) {
        const double fast = Measure(body, runs, ScanForm);
        const double plain = Measure(body, runs, formscan::ScanFormWith<PlainSearchPolicy>);
        const double ratio = plain > 0 ? fast / plain : 0.0;
        if (&body == &bodies[0]) bigRatio = ratio;
        std::printf("%-36s %9.3f %9.3f %8.2fx\n", body.label.c_str(), fast, plain, ratio);
    }
    const double fast = MeasureSearch<ByteSearchPolicy>(bodies[0], runs);
    const double plain = MeasureSearch<PlainSearchPolicy>(bodies[0], runs);
    char label[64];
    std::snprintf(label, sizeof label, "boundary search alone, %ld MB file", cbFileMb);
    std::printf("%-36s %9.3f %9.3f %8.2fx\n", label, fast, plain, plain > 0 ? fast / plain : 0.0);
    std::printf("(boundary search row: the ScanForm column is ByteSearch alone, for the closing line at the end)\n");
    std::printf("goal field after the file: ScanForm / plain %6.2fx (target 4.0x): %s\n", bigRatio,
                bigRatio >= 4.0 ? "met" : "NOT met");

    // Many small parts: the scan's time against the plain position-by-
    // position search of the closing line over the same body, in
    // alternating rounds.
    std::printf("\nmany parts: ScanForm time / plain search of the closing line over the same body (median of %d rounds)\n",
                4 * runs);
    const struct {
        const BenchBody* body;
        double target;
    } goals[] = {{&bodies[1], 0.75}, {&bodies[2], 0.8}};
    for (const auto& goal : goals) {
        const BenchBody& body = *goal.body;
        std::unique_ptr<FormScan> record(new FormScan);
        const std::int32_t cb = static_cast<std::int32_t>(body.bytes.size());
        const std::string tail = body.boundary.substr(body.boundary.find_last_of('-') + 1);
        const std::string pattern = "-" + tail + "--\r\n";
        const auto* pb = reinterpret_cast<const unsigned char*>(pattern.data());
        const std::int32_t m = static_cast<std::int32_t>(pattern.size());
        volatile std::int32_t sink = 0;
        const bench_timing::Comparison c = bench_timing::Compare(
            [&] { sink = ScanForm(body.bytes.data(), cb, body.itemWide.c_str(), record.get(), body.mode); },
            [&] { sink = PlainByteSearch(pb, m, body.bytes.data(), 0, cb); }, 4 * runs);
        std::printf("%-36s scan %8.3f ms  plain %8.3f ms  %6.2fx (target at most %.2fx): %s\n", body.label.c_str(),
                    c.dSecondsA * 1e3, c.dSecondsB * 1e3, c.dRatio, goal.target,
                    c.dRatio <= goal.target ? "met" : "NOT met");
    }
    TermModule();
    return 0;
}

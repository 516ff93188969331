// Host benchmark of the form scanner (Google Benchmark). For each generated
// browser-style body it times ScanForm (ByteSearch), the same scan over the
// plain position-by-position search and over glibc memmem, the boundary
// search alone over the big body, and busboy (node) parsing the same body in
// memory; then prints GB/s and the ratios, all measured in this run. Figures,
// not assertions. A second table sets PartStream, fed the body in 256 KB
// pieces, against FormParts::Parse of the whole body (--benchmark_filter=^stream
// runs that table alone).
//   formscan_bench [--file-mb=N] [--busboy-runs=N] [google benchmark flags]
#include "formscan/byte_search.h"
#include "formscan/form_parts.h"
#include "formscan/form_scan.h"
#include "formscan/form_scan_impl.h"
#include "formscan/part_stream.h"
#include "testing/host_services.h"
#include "testing/plain_search.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/formscan/bench_bodies.h"

#ifndef VARO_BENCH_DIR
#error "VARO_BENCH_DIR must name bench/formscan"
#endif

namespace {

using formscan_bench::BenchBody;

struct MemmemPolicy {
    static std::int32_t Find(const unsigned char* pbPattern, std::int32_t cbPattern, const unsigned char* pbData,
                             std::int32_t lStart, std::int32_t lEnd) {
        if (lStart >= lEnd) return -1;
        const void* pv = memmem(pbData + lStart, static_cast<std::size_t>(lEnd - lStart), pbPattern,
                                static_cast<std::size_t>(cbPattern));
        return pv ? static_cast<std::int32_t>(static_cast<const unsigned char*>(pv) - (pbData + lStart)) : -1;
    }
};

enum Method { kScanForm, kPlain, kMemmem, kBusboy, kMethodCount };
const char* const kMethodNames[kMethodCount] = {"ScanForm", "plain", "memmem", "busboy"};

// Results: GB/s by (row, method).
std::map<std::string, std::map<int, double>> g_gbps;
std::vector<std::string> g_rows;

template <class Search>
void RunScan(benchmark::State& state, const BenchBody* body) {
    std::unique_ptr<FormScan> record(new FormScan);
    const std::int32_t cb = static_cast<std::int32_t>(body->bytes.size());
    for (auto _ : state) {
        const std::int32_t result = formscan::ScanFormWith<Search>(body->bytes.data(), cb, body->itemWide.c_str(),
                                                                   record.get(), body->mode);
        benchmark::DoNotOptimize(result);
        if (result != body->expected) state.SkipWithError("unexpected scan result");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * cb);
}

void RunProductScan(benchmark::State& state, const BenchBody* body) {
    std::unique_ptr<FormScan> record(new FormScan);
    const std::int32_t cb = static_cast<std::int32_t>(body->bytes.size());
    for (auto _ : state) {
        const std::int32_t result = ScanForm(body->bytes.data(), cb, body->itemWide.c_str(), record.get(),
                                             body->mode);
        benchmark::DoNotOptimize(result);
        if (result != body->expected) state.SkipWithError("unexpected scan result");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * cb);
}

// The boundary-line search alone, through the whole body.
template <class Search>
void RunSearch(benchmark::State& state, const BenchBody* body) {
    const std::string pattern = "-" + body->boundary.substr(body->boundary.find_last_of('-') + 1) + "--\r\n";
    const auto* pb = reinterpret_cast<const unsigned char*>(pattern.data());
    const std::int32_t cb = static_cast<std::int32_t>(body->bytes.size());
    for (auto _ : state) {
        // The closing line: the last bytes of the body.
        const std::int32_t at = Search::Find(pb, static_cast<std::int32_t>(pattern.size()), body->bytes.data(), 0, cb);
        benchmark::DoNotOptimize(at);
        if (at != cb - static_cast<std::int32_t>(pattern.size())) state.SkipWithError("search missed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * cb);
}

// VARO.Upload's work: index the whole body, then read every part's name and
// value once.
void RunParts(benchmark::State& state, const BenchBody* body) {
    const std::uint32_t cb = static_cast<std::uint32_t>(body->bytes.size());
    for (auto _ : state) {
        FormParts parts;
        if (parts.Parse(body->bytes.data(), cb, 0) != PartsResult::kOk ||
            parts.Count() != static_cast<std::uint32_t>(body->expected)) {
            state.SkipWithError("unexpected parts");
            break;
        }
        std::uint64_t sum = 0;
        for (std::uint32_t i = 0; i < parts.Count(); ++i) {
            const FormPart& p = parts.Part(i);
            sum += parts.Text()[p.nameOffset] + body->bytes[p.valueOffset] + p.valueLength;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * cb);
}

// PartStream's sink for the benchmark: takes every byte, looks at none.
class CountingSink : public PartSink {
public:
    bool PartBegins(std::uint32_t, const FormPart& part, const unsigned char*) override {
        cbTexts += part.nameLength + part.fileNameLength;
        return true;
    }
    bool PartData(const unsigned char*, std::uint32_t cb) override {
        cbData += cb;
        return true;
    }
    bool PartEnds() override {
        ++nParts;
        return true;
    }
    void PartDropped() override {}  // the benchmark's bodies always have parts
    std::uint64_t cbTexts = 0, cbData = 0;
    std::uint32_t nParts = 0;
};

constexpr std::uint32_t kcbStreamPiece = 256u << 10;
enum StreamMethod { kWholeParse, kStream256k, kStreamMethodCount };
const char* const kStreamMethodNames[kStreamMethodCount] = {"parse", "stream256k"};
// GB/s by (row, method) of the stream table.
std::map<std::string, std::map<int, double>> g_streamGbps;
std::vector<std::string> g_streamRows;

// The parts of the body, as the whole-body parse counts them.
std::uint32_t PartCount(const BenchBody* body) {
    FormParts parts;
    return parts.Parse(body->bytes.data(), static_cast<std::uint32_t>(body->bytes.size()), 0) == PartsResult::kOk
               ? parts.Count()
               : 0;
}

// FormParts::Parse of the whole body: the index, values left in place.
void RunWholeParse(benchmark::State& state, const BenchBody* body) {
    const std::uint32_t cb = static_cast<std::uint32_t>(body->bytes.size());
    const std::uint32_t nParts = PartCount(body);
    for (auto _ : state) {
        FormParts parts;
        if (nParts == 0 || parts.Parse(body->bytes.data(), cb, 0) != PartsResult::kOk || parts.Count() != nParts) {
            state.SkipWithError("unexpected parts");
            break;
        }
        benchmark::DoNotOptimize(parts.Part(parts.Count() - 1).valueLength);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * cb);
}

// The same body through PartStream in 256 KB pieces: every value to a sink,
// then the index.
void RunStream(benchmark::State& state, const BenchBody* body) {
    const std::uint32_t cb = static_cast<std::uint32_t>(body->bytes.size());
    const std::uint32_t nParts = PartCount(body);
    for (auto _ : state) {
        CountingSink sink;
        PartStream stream(0, &sink);
        PartsResult result = PartsResult::kOk;
        for (std::uint32_t l = 0; l < cb && result == PartsResult::kOk; l += kcbStreamPiece)
            result = stream.Write(body->bytes.data() + l, cb - l < kcbStreamPiece ? cb - l : kcbStreamPiece);
        if (result == PartsResult::kOk) result = stream.End();
        const FormParts parts = stream.TakeParts();
        if (nParts == 0 || result != PartsResult::kOk || parts.Count() != nParts || sink.nParts != nParts) {
            state.SkipWithError("unexpected parts");
            break;
        }
        benchmark::DoNotOptimize(sink.cbData);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * cb);
}

// Keeps the median of the repetitions of every benchmark.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median") continue;
            const std::string name = run.run_name.function_name;  // "row/method"
            const std::size_t slash = name.rfind('/');
            const std::string row = name.substr(0, slash), method = name.substr(slash + 1);
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end() || run.error_occurred) continue;
            if (row.compare(0, 8, "stream: ") == 0) {
                for (int m = 0; m < kStreamMethodCount; ++m)
                    if (method == kStreamMethodNames[m]) g_streamGbps[row][m] = it->second.value / 1e9;
                continue;
            }
            for (int m = 0; m < kMethodCount; ++m)
                if (method == kMethodNames[m]) g_gbps[row][m] = it->second.value / 1e9;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void Register(const std::string& row, const char* method, void (*fn)(benchmark::State&, const BenchBody*),
              const BenchBody* body) {
    std::vector<std::string>& rows = row.compare(0, 8, "stream: ") == 0 ? g_streamRows : g_rows;
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
    benchmark::RegisterBenchmark((row + "/" + method).c_str(), fn, body)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.3)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

// busboy over the same bytes: GB/s of its median run, or 0.
double RunBusboy(const BenchBody& body, int runs) {
    const std::string dir = VARO_BENCH_DIR;
    if (access((dir + "/node_modules/busboy/package.json").c_str(), R_OK) != 0) return 0;
    char path[] = "/tmp/formscan-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    const std::size_t cb = body.bytes.size();
    const bool bWritten = write(fd, body.bytes.data(), cb) == static_cast<ssize_t>(cb);
    close(fd);
    double gbps = 0;
    if (bWritten) {
        const std::string command = "node '" + dir + "/busboy_bench.js' '" + path + "' '" + body.boundary + "' '" +
                                    body.item + "' " + std::to_string(runs);
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char line[512] = {};
            if (std::fgets(line, sizeof line, pipe)) {
                const char* median = std::strstr(line, "\"median_s\":");
                const char* values = std::strstr(line, "\"values\":");
                if (median && values) {
                    const double seconds = std::atof(median + 11);
                    const long nValues = std::atol(values + 9);
                    const long nExpected = body.item == "*" || (body.expected > 0 && body.expected <= kMaxFormValues)
                                               ? body.expected
                                               : 1;
                    if (nValues != nExpected)
                        std::fprintf(stderr, "busboy found %ld values of %s, ScanForm %ld\n", nValues,
                                     body.item.c_str(), nExpected);
                    if (seconds > 0) gbps = static_cast<double>(cb) / seconds / 1e9;
                }
            }
            pclose(pipe);
        }
    }
    unlink(path);
    return gbps;
}

std::string Ratio(double a, double b) {
    if (a <= 0 || b <= 0) return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2fx", a / b);
    return buf;
}

std::string Rate(double v) {
    if (v <= 0) return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    long cbFileMb = 100;
    int nBusboyRuns = 5;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--file-mb=", 10) == 0) cbFileMb = std::atol(argv[i] + 10);
        else if (std::strncmp(argv[i], "--busboy-runs=", 14) == 0) nBusboyRuns = std::atoi(argv[i] + 14);
        else args.push_back(argv[i]);
    }
    int nArgs = static_cast<int>(args.size());
    benchmark::Initialize(&nArgs, args.data());

    HostSetCodePage(1252);
    const BenchBody bodies[] = {formscan_bench::FieldAfterFile(static_cast<std::size_t>(cbFileMb) << 20),
                                formscan_bench::RepeatedField(), formscan_bench::DistinctFields()};
    // Every field of the 10 MB body, through FormParts (ScanForm column).
    BenchBody everyField = bodies[2];
    everyField.label = "FormParts: every field of 10,000";
    everyField.item = "*";
    everyField.expected = 10000;
    Register(everyField.label, kMethodNames[kScanForm], RunParts, &everyField);
    for (const BenchBody& body : bodies) {
        Register(body.label, kMethodNames[kScanForm], RunProductScan, &body);
        Register(body.label, kMethodNames[kPlain], RunScan<PlainSearchPolicy>, &body);
        Register(body.label, kMethodNames[kMemmem], RunScan<MemmemPolicy>, &body);
    }
    const std::string searchRow = "boundary search alone, " + std::to_string(cbFileMb) + " MB file";
    Register(searchRow, kMethodNames[kScanForm], RunSearch<ByteSearchPolicy>, &bodies[0]);
    Register(searchRow, kMethodNames[kPlain], RunSearch<PlainSearchPolicy>, &bodies[0]);
    Register(searchRow, kMethodNames[kMemmem], RunSearch<MemmemPolicy>, &bodies[0]);

    // PartStream in 256 KB pieces against the whole-body parse.
    for (const BenchBody* body : {&bodies[0], &bodies[2]}) {
        Register("stream: " + body->label, kStreamMethodNames[kWholeParse], RunWholeParse, body);
        Register("stream: " + body->label, kStreamMethodNames[kStream256k], RunStream, body);
    }

    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    for (const BenchBody* body : {&bodies[0], &bodies[1], &bodies[2], static_cast<const BenchBody*>(&everyField)}) {
        const double gbps = RunBusboy(*body, nBusboyRuns);
        if (gbps > 0) g_gbps[body->label][kBusboy] = gbps;
    }

    std::printf("\nForm scanner, GB/s (median of 5 repetitions; busboy: median of %d runs, node %s)\n", nBusboyRuns,
                "in a child process");
    std::printf("%-36s %9s %9s %9s %9s  %9s %9s %9s\n", "body", "ScanForm", "plain", "memmem", "busboy", "/plain",
                "/memmem", "/busboy");
    for (const std::string& row : g_rows) {
        auto& r = g_gbps[row];
        std::printf("%-36s %9s %9s %9s %9s  %9s %9s %9s\n", row.c_str(), Rate(r[kScanForm]).c_str(),
                    Rate(r[kPlain]).c_str(), Rate(r[kMemmem]).c_str(), Rate(r[kBusboy]).c_str(),
                    Ratio(r[kScanForm], r[kPlain]).c_str(), Ratio(r[kScanForm], r[kMemmem]).c_str(),
                    Ratio(r[kScanForm], r[kBusboy]).c_str());
    }
    std::printf("(boundary search row: the ScanForm column is ByteSearch alone, for the closing line at the end)\n");
    std::printf("(FormParts row: the ScanForm column is FormParts::Parse and a read of every part; busboy collects every field)\n");
    auto& big = g_gbps[bodies[0].label];
    auto& repeated = g_gbps[bodies[1].label];
    auto goal = [](const char* what, double a, double b, double target) {
        if (a <= 0 || b <= 0) {
            std::printf("goal %-52s not measured\n", what);
            return;
        }
        std::printf("goal %-52s %6.2fx (target %.1fx): %s\n", what, a / b, target, a / b >= target ? "met" : "NOT met");
    };
    goal("field after the file: ScanForm / memmem", big[kScanForm], big[kMemmem], 0.7);
    goal("field after the file: ScanForm / busboy", big[kScanForm], big[kBusboy], 4.0);
    goal("one field 3000 times: ScanForm / busboy", repeated[kScanForm], repeated[kBusboy], 10.0);
    auto& every = g_gbps[everyField.label];
    goal("every field of 10,000: FormParts / busboy", every[kScanForm], every[kBusboy], 10.0);
    std::printf("\nPartStream in 256 KB pieces (every value to a counting sink, then the index) against\n"
                "FormParts::Parse of the whole body in memory, GB/s (median of 5 repetitions)\n");
    std::printf("%-44s %9s %11s %9s\n", "body", "parse", "stream256k", "/parse");
    for (const std::string& row : g_streamRows) {
        auto& r = g_streamGbps[row];
        std::printf("%-44s %9s %11s %9s\n", row.c_str() + 8, Rate(r[kWholeParse]).c_str(), Rate(r[kStream256k]).c_str(),
                    Ratio(r[kStream256k], r[kWholeParse]).c_str());
    }
    for (const std::string& row : g_streamRows) {
        auto& r = g_streamGbps[row];
        goal(("stream / parse, " + row.substr(8)).c_str(), r[kStream256k], r[kWholeParse], 0.8);
    }
    if (g_gbps[bodies[0].label][kBusboy] <= 0)
        std::printf("(busboy not measured: run 'npm install' in bench/formscan, with node on the PATH)\n");
    return 0;
}

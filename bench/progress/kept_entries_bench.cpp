// What finding a kept record by name costs as their number grows: the
// keeper's Keep of a name it already holds (found, released, kept again:
// what an upload ending under a reused id does) and of a new name at the
// cap (the first to end goes to make room), against a walk over every
// name's text, as the keeper searched before. Ids are like the sample's,
// UUIDs, so every name shares the section prefix. Prints the nanoseconds
// per call at each count, the median of the rounds; nothing is asserted.
//   kept_entries_bench [--rounds=N] [--calls=N]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "progress/kept_entries.h"

namespace {

constexpr std::uint32_t kmsRetention = 5 * 60 * 1000;
std::uint64_t g_nReleased = 0;
void CountRelease(std::uintptr_t) { ++g_nReleased; }

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// "Local\VARO.Progress." and a UUID made from the number.
std::u16string SectionNameOf(std::uint32_t n) {
    static const char kHex[] = "0123456789abcdef";
    const std::uint64_t anMixed[2] = {(n + 1ull) * 0x9E3779B97F4A7C15ull, (n + 7ull) * 0xD6E8FEB86659FD93ull};
    std::u16string strName = u"Local\\VARO.Progress.";
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) strName += u'-';
        strName += static_cast<char16_t>(kHex[(anMixed[i / 16] >> (4 * (i % 16))) & 15]);
    }
    return strName;
}

// The walk the keeper made before: every name's text until one matches.
struct Walked {
    char16_t szKey[kcchProgressSectionName];
};
bool SameKey(const char16_t* psz1, const char16_t* psz2) {
    for (; *psz1 == *psz2; ++psz1, ++psz2)
        if (*psz1 == u'\0') return true;
    return false;
}
std::uint32_t Walk(const std::vector<Walked>& entries, const char16_t* pszKey) {
    std::uint32_t i = 0;
    while (i < entries.size() && !SameKey(entries[i].szKey, pszKey)) ++i;
    return i;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double nsFound, nsNewAtCap, nsWalk;
};

Figures Measure(std::uint32_t nCount, long long nCalls, long long nRounds) {
    std::vector<std::u16string> names, fresh;
    for (std::uint32_t n = 0; n < nCount; ++n) names.push_back(SectionNameOf(n));
    for (std::uint32_t n = 0; n < 4096; ++n) fresh.push_back(SectionNameOf(0x40000000u + n));
    std::vector<Walked> walked(nCount);
    for (std::uint32_t n = 0; n < nCount; ++n) std::copy(names[n].begin(), names[n].end() + 1, walked[n].szKey);
    // A fixed order of names to ask for, spread over all of them.
    std::vector<std::uint32_t> order(4096);
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>((i * 2654435761u) % nCount);

    std::vector<double> found, newAtCap, walks;
    std::uint64_t nSink = 0;
    for (long long r = 0; r < nRounds; ++r) {
        KeptEntries kept(CountRelease, nCount);
        std::uint32_t msNow = 0;
        for (std::uint32_t n = 0; n < nCount; ++n) kept.Keep(names[n].c_str(), n, msNow++, kmsRetention);

        double t0 = Now();
        for (long long i = 0; i < nCalls; ++i)
            kept.Keep(names[order[i & 4095]].c_str(), static_cast<std::uintptr_t>(i), msNow++, kmsRetention);
        found.push_back((Now() - t0) / nCalls * 1e9);

        t0 = Now();
        for (long long i = 0; i < nCalls; ++i)
            kept.Keep((i & 1 ? names[order[i & 4095]] : fresh[i & 4095]).c_str(), static_cast<std::uintptr_t>(i),
                      msNow++, kmsRetention);
        newAtCap.push_back((Now() - t0) / nCalls * 1e9);
        nSink += kept.Count();

        // The walk is slow at large counts: fewer calls, the same figure per call.
        const long long nWalks = std::max(1000LL, nCalls / std::max<std::uint32_t>(1, nCount / 10));
        t0 = Now();
        for (long long i = 0; i < nWalks; ++i) nSink += Walk(walked, names[order[i & 4095]].c_str());
        walks.push_back((Now() - t0) / nWalks * 1e9);
    }
    if (nSink == 0) std::printf("(nothing kept)\n");
    return {Median(found), Median(newAtCap), Median(walks)};
}

}  // namespace

int main(int argc, char** argv) {
    const long long nRounds = bench_options::Option(argc, argv, "rounds", 5);
    const long long nCalls = bench_options::Option(argc, argv, "calls", 1000000);
    std::printf("ns per call, median of %lld rounds of %lld calls\n", nRounds, nCalls);
    std::printf("%8s  %14s  %18s  %22s\n", "records", "Keep, found", "Keep, new at cap", "walk over the names");
    for (std::uint32_t nCount : {10u, 100u, 1000u, 10000u}) {
        const Figures figures = Measure(nCount, nCalls, nRounds);
        std::printf("%8u  %14.1f  %18.1f  %22.1f\n", nCount, figures.nsFound, figures.nsNewAtCap, figures.nsWalk);
    }
    std::printf("(%llu released)\n", static_cast<unsigned long long>(g_nReleased));
    return 0;
}

// Timing for the benchmarks under Wine: two operations measured in
// alternating rounds, so that load on the machine weighs on both alike; the
// ratio is the median of the rounds' ratios.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

namespace bench_timing {

inline double Seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds per call of op, repeated until at least dMinSeconds have passed.
template <class Op>
double SecondsPerCall(Op&& op, double dMinSeconds) {
    long n = 0;
    const double t0 = Seconds();
    double t = t0;
    do {
        op();
        ++n;
        t = Seconds();
    } while (t - t0 < dMinSeconds);
    return (t - t0) / static_cast<double>(n);
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Comparison {
    double dSecondsA;  // median seconds per call
    double dSecondsB;
    double dRatio;     // median of the rounds' A / B
};

// A and B in alternating rounds of about dRoundSeconds each.
template <class OpA, class OpB>
Comparison Compare(OpA&& a, OpB&& b, int nRounds, double dRoundSeconds = 0.05) {
    a();
    b();
    std::vector<double> va, vb, ratios;
    for (int r = 0; r < nRounds; ++r) {
        const double ta = SecondsPerCall(a, dRoundSeconds);
        const double tb = SecondsPerCall(b, dRoundSeconds);
        va.push_back(ta);
        vb.push_back(tb);
        ratios.push_back(ta / tb);
    }
    return Comparison{Median(va), Median(vb), Median(ratios)};
}

}  // namespace bench_timing

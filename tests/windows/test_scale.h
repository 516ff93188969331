// How much of a long-running test to run. Where every instruction is
// emulated (scripts/test's emulated stage for the i686 build) VARO_TEST_SCALE
// lowers the counts; a leak still shows as growth over hundreds of rounds.
#pragma once
#include <cstdio>
#include <cstdlib>

inline double TestScale() {
    const char* psz = std::getenv("VARO_TEST_SCALE");
    const double d = psz ? std::atof(psz) : 1.0;
    return d > 0.0 && d <= 1.0 ? d : 1.0;
}

// n scaled, never below nFloor; says so when lowered, so a log shows it.
inline int ScaledCount(const char* pszWhat, int n, int nFloor) {
    int nScaled = static_cast<int>(n * TestScale());
    if (nScaled < nFloor) nScaled = nFloor < n ? nFloor : n;
    if (nScaled != n) std::printf("%s: %d instead of %d (VARO_TEST_SCALE)\n", pszWhat, nScaled, n);
    return nScaled;
}

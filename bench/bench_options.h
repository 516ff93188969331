// A benchmark's --name=N options, read the same way by every benchmark.
#pragma once
#include <cstdlib>
#include <cstring>

namespace bench_options {

// The value of the last --name=N on the command line, or the fallback when
// there is none; a value below the least counts as the least.
inline long long Option(int argc, char** argv, const char* pszName, long long fallback, long long least = 1) {
    const size_t cchName = std::strlen(pszName);
    long long value = fallback;
    for (int i = 1; i < argc; ++i) {
        const char* psz = argv[i];
        if (std::strncmp(psz, "--", 2) == 0 && std::strncmp(psz + 2, pszName, cchName) == 0 && psz[2 + cchName] == '=')
            value = std::strtoll(psz + 3 + cchName, nullptr, 10);
    }
    return value < least ? least : value;
}

}  // namespace bench_options

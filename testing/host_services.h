// Controls of the host build's service implementations, for tests, fuzz
// targets and benchmarks. Not part of the Windows build.
#pragma once
#include <cstddef>

// Selects the ANSI code page the host text services imitate: 932 or 1252.
void HostSetCodePage(unsigned nCodePage);
unsigned HostGetCodePage();

// Module heap bookkeeping: blocks currently allocated, and a failure
// injector: after nSuccesses more successful allocations every allocation
// fails, until called again with -1 (never fail).
long HostHeapLiveBlocks();
void HostHeapFailAfter(long nSuccesses);

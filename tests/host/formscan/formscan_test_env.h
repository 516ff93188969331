// What the scanner's tests need from the services beneath it, on the host
// (host_test_env.cpp: the host controls) and under Wine (win_test_env.cpp).
#pragma once

// Makes nCodePage (932 or 1252) the ANSI code page of the scan if this run
// can; false when it cannot (under Wine the process's code page is fixed).
bool TestUseCodePage(unsigned nCodePage);

// Module-heap blocks currently allocated.
long TestHeapLiveBlocks();

// Allocation-failure injection: after n more successful allocations every
// allocation fails (-1: never). TestCanInjectFailures() tells whether this
// build has it.
bool TestCanInjectFailures();
void TestHeapFailAfter(long nSuccesses);

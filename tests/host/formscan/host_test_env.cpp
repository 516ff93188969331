#include "tests/host/formscan/formscan_test_env.h"

#include "testing/host_services.h"

bool TestUseCodePage(unsigned nCodePage) {
    HostSetCodePage(nCodePage);
    return HostGetCodePage() == nCodePage;
}
long TestHeapLiveBlocks() { return HostHeapLiveBlocks(); }
bool TestCanInjectFailures() { return true; }
void TestHeapFailAfter(long nSuccesses) { HostHeapFailAfter(nSuccesses); }

// The progress tests' program: GoogleTest, or with --child one of the
// processes a test starts.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/module_state.h"
#include "progress_test_support.h"

int main(int argc, char** argv) {
    // The keeper and its entries live in the module heap, as in VARO.DLL.
    if (FAILED(InitModule(nullptr, GetModuleHandleA(nullptr)))) return 90;
    int nExit;
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) {
        nExit = RunProgressChild(argc - 2, argv + 2);
    } else {
        testing::InitGoogleTest(&argc, argv);
        nExit = RUN_ALL_TESTS();
    }
    TermModule();
    return nExit;
}

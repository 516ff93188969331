// registry_rows FILE_ID SCRIPT.rgs...: prints the WiX elements that write
// what the scripts register, one a line, the module path given as the
// installed file FILE_ID's path. Exit 1 with the reason on what the package
// cannot carry.
#include "installer/registry_rows.h"
#include "testing/host_services.h"

#include <cstdio>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: registry_rows FILE_ID SCRIPT.rgs...\n");
        return 2;
    }
    // The scripts are read as the DLL reads them on a Japanese server.
    HostSetCodePage(932);
    std::vector<std::string> scripts;
    for (int i = 2; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "registry_rows: cannot read %s\n", argv[i]);
            return 1;
        }
        scripts.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    MemoryRegistry registry;
    std::string strError = ExpandScripts(scripts, registry);
    std::vector<RegistryRow> rows;
    if (strError.empty()) rows = RowsOf(registry, strError);
    if (!strError.empty()) {
        std::fprintf(stderr, "registry_rows: %s\n", strError.c_str());
        return 1;
    }
    for (const RegistryRow& row : rows) std::printf("%s\n", WixElement(row, argv[1]).c_str());
    return 0;
}

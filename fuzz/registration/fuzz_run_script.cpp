// RunScript over the in-memory registry: registration, then unregistration of
// the same text, in the code page the first byte selects. Every run must end
// with no key open and no block allocated.
#include "testing/registry_memory.h"
#include "registration/registry_script_engine.h"
#include "registration/replacement_map.h"
#include "testing/host_services.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t cbData) {
    if (cbData == 0) return 0;
    HostSetCodePage(pbData[0] & 1 ? 1252 : 932);
    std::string strScript(reinterpret_cast<const char*>(pbData + 1), cbData - 1);  // stops at a NUL

    long lLiveBefore = HostHeapLiveBlocks();
    {
        MemoryRegistry registry;
        HKEY hKey = nullptr;
        if (registry.CreateKey(HKEY_CURRENT_USER, "Existing\\Sub", &hKey) == ERROR_SUCCESS) registry.CloseKey(hKey);
        ReplacementMap replacements;
        replacements.Add(u"Module", u"C:\\It''s\\\u8868\u793a.DLL");
        replacements.Add(u"CLSID", u"{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}");
        RegistryScriptEngine engine(registry, replacements);
        engine.RunScript(strScript.c_str(), true);
        if (registry.OpenHandleCount() != 0) std::abort();
        engine.RunScript(strScript.c_str(), false);
        if (registry.OpenHandleCount() != 0) std::abort();
    }
    if (HostHeapLiveBlocks() != lLiveBefore) std::abort();
    return 0;
}

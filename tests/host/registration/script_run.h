// Runs registry scripts against an in-memory registry and checks that every
// run leaves no key open and no block allocated, whatever its status.
#pragma once
#include "registry_script_cases.h"
#include "testing/registry_memory.h"
#include "registration/registry_script_engine.h"
#include "registration/replacement_map.h"
#include "testing/host_services.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

struct ScriptRun {
    MemoryRegistry registry;
    ReplacementMap replacements;

    HRESULT Run(const std::string& strScript, bool bRegister, ScriptScope scope = ScriptScope::kAllKeys) {
        long lLiveBefore = HostHeapLiveBlocks();
        RegistryScriptEngine engine(registry, replacements);
        HRESULT hr = engine.RunScript(strScript.c_str(), bRegister, scope);
        EXPECT_EQ(registry.OpenHandleCount(), 0u) << strScript;
        EXPECT_EQ(HostHeapLiveBlocks(), lLiveBefore) << strScript;
        return hr;
    }
    HRESULT Register(const std::string& strScript) { return Run(strScript, true); }
    HRESULT Unregister(const std::string& strScript) { return Run(strScript, false); }
    HRESULT UnregisterClassKeys(const std::string& strScript) {
        return Run(strScript, false, ScriptScope::kClassKeysOnly);
    }
    Lines Dump(HKEY hRoot = HKEY_CURRENT_USER) const { return Sorted(registry.Dump(hRoot)); }

    // Seeds keys and REG_SZ values beneath hRoot: "A\B" makes a key,
    // "A\B [name] text" a value ("[]" the default value).
    void Seed(const Lines& lines, HKEY hRoot = HKEY_CURRENT_USER) {
        for (const std::string& strLine : lines) {
            std::size_t nBracket = strLine.find(" [");
            std::string strKey = strLine.substr(0, nBracket);
            HKEY hKey = nullptr;
            ASSERT_EQ(registry.CreateKey(hRoot, strKey.c_str(), &hKey), ERROR_SUCCESS) << strLine;
            if (nBracket != std::string::npos) {
                std::size_t nClose = strLine.find("] ", nBracket);
                std::string strName = strLine.substr(nBracket + 2, nClose - nBracket - 2);
                std::string strText = strLine.substr(nClose + 2);
                registry.SetValue(hKey, strName.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(strText.c_str()),
                                  static_cast<DWORD>(strText.size() + 1));
            }
            registry.CloseKey(hKey);
        }
    }
};

// The shared case tables' registry: a fresh in-memory one per case.
class MemoryRunner : public ScriptRunner {
public:
    MemoryRunner() : m_run(new ScriptRun) {}
    void Reset() override { m_run.reset(new ScriptRun); }
    void Seed(const Lines& lines) override { m_run->Seed(lines); }
    HRESULT Run(const std::string& strScript, bool bRegister) override { return m_run->Run(strScript, bRegister); }
    Lines Dump() override { return m_run->Dump(); }

private:
    std::unique_ptr<ScriptRun> m_run;
};

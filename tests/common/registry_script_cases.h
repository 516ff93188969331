// Registry scripts with the registry state expected after registering and
// after unregistering them. One table for both registries the engine runs
// against: the host's in-memory one and Wine's (a test key standing in for
// HKEY_CURRENT_USER); both must read a script alike.
#pragma once
#include <string>
#include <vector>

#include "platform/win32_types.h"

using Lines = std::vector<std::string>;

// The script is only unregistered.
constexpr HRESULT kNotRun = S_FALSE;

struct EngineCase {
    const char* pszName;
    Lines seed;  // beneath HKEY_CURRENT_USER, before registration
    std::string strScript;
    HRESULT hrRegister;  // or kNotRun
    Lines afterRegister;
    HRESULT hrUnregister;
    Lines afterUnregister;
};

// A registry to run cases against, from an empty HKEY_CURRENT_USER each time.
class ScriptRunner {
public:
    virtual ~ScriptRunner() = default;
    virtual void Reset() = 0;
    // "A\B" makes a key, "A\B [name] text" a REG_SZ value ("[]" the default).
    virtual void Seed(const Lines& lines) = 0;
    virtual HRESULT Run(const std::string& strScript, bool bRegister) = 0;
    // Every key and value beneath HKEY_CURRENT_USER, one line each, sorted:
    //   Key\Sub   Key\Sub [name] REG_SZ "text"   Key [n] REG_DWORD 0x0000000a
    virtual Lines Dump() = 0;
};

Lines Sorted(Lines lines);

// Runs each case from an empty registry and checks both states.
void RunCases(ScriptRunner& runner, const std::vector<EngineCase>& cases);

// Keys and values written, removed and spared.
std::vector<EngineCase> WritingCases();
// Failures end the run and roll back the failing root block.
std::vector<EngineCase> FailureCases();
// Choices where the language leaves the outcome open, and inputs it would
// otherwise handle unsafely: refused with DISP_E_EXCEPTION.
std::vector<EngineCase> RefusalCases();

// What the module's own script (resources/webmng.rgs) registers beneath its
// root, with InprocServer32 naming strModule (ANSI).
Lines WebMngScriptEntries(const std::string& strModule);

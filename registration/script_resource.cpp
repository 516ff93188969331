// Runs a registry script carried as a REGISTRY resource of the module file.
#include <cstring>

#include "platform/hresult_checks.h"
#include "platform/module_heap.h"
#include "platform/multibyte_text.h"
#include "platform/win32_owners.h"
#include "registration/registry_script_engine.h"
#include "registration/registry_win32.h"
#include "registration/replacement_map.h"
#include "registration/server_registration.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's wide text is UTF-16");

namespace {
const DWORD kPathBuffer = MAX_PATH;

// A failure the system may not have described: without a code it is still a
// failure (nothing was registered), so it is never reported as success.
HRESULT LastErrorStatus() {
    DWORD dwError = GetLastError();
    return dwError ? static_cast<HRESULT>(0x80070000u | (dwError & 0xFFFFu)) : E_FAIL;
}

// The module path in the ANSI code page. An executable server (a module that
// is the process's own image) registers its short path, as such servers do;
// this DLL never is one, but the rule is kept with the rest of the driver.
HRESULT ChooseModulePath(const ModuleState& module, char* pszPath) {
    char szLong[kPathBuffer];
    DWORD cch = GetModuleFileNameA(module.hInstance, szLong, kPathBuffer);
    szLong[cch < kPathBuffer ? cch : kPathBuffer - 1] = '\0';
    std::strcpy(pszPath, szLong);
    if (module.hInstance && module.hInstance != GetModuleHandleA(nullptr)) return S_OK;
    char szShort[kPathBuffer];
    DWORD dwResult = GetShortPathNameA(szLong, szShort, kPathBuffer);
    // A result of the buffer's size or more is the room the short path needs:
    // the buffer holds nothing usable then.
    if (dwResult >= kPathBuffer) return E_OUTOFMEMORY;
    if (dwResult != 0 && dwResult != ERROR_INVALID_PARAMETER) std::strcpy(pszPath, szShort);
    return S_OK;
}

// The path as a wide string with every single quote doubled, so it survives
// as one quoted script token.
HRESULT AddModuleVariable(ReplacementMap& map, const char* pszPath) {
    UniqueBstr wide(MultiByteToBstr(CP_ACP, pszPath, -1));
    if (!wide) return E_OUTOFMEMORY;
    const UINT cch = SysStringLen(wide.get());
    ModuleBlock doubled(ModuleAlloc((2 * static_cast<std::size_t>(cch) + 1) * sizeof(char16_t)));
    if (!doubled) return E_OUTOFMEMORY;
    char16_t* pch = doubled.as<char16_t>();
    for (UINT i = 0; i < cch; ++i) {
        *pch++ = static_cast<char16_t>(wide.get()[i]);
        if (wide.get()[i] == L'\'') *pch++ = u'\'';
    }
    *pch = u'\0';
    return map.Add(u"Module", doubled.as<const char16_t>());
}

HRESULT RunScriptFromFile(const char* pszPath, WORD wResourceId, RegistrationAction action, const ReplacementMap& map) {
    UniqueLibrary file(LoadLibraryExA(pszPath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file.get()) return LastErrorStatus();
    HRSRC hResource = FindResourceA(file.get(), MAKEINTRESOURCEA(wResourceId), "REGISTRY");
    HGLOBAL hData = hResource ? LoadResource(file.get(), hResource) : nullptr;
    if (!hData) return LastErrorStatus();
    DWORD cbScript = SizeofResource(file.get(), hResource);
    ModuleBlock text(ModuleAlloc(cbScript + 1));
    if (!text) return E_OUTOFMEMORY;
    std::memcpy(text.get(), LockResource(hData), cbScript);
    text.as<char>()[cbScript] = '\0';
    Win32Registry registry;
    RegistryScriptEngine engine(registry, map);
    return engine.RunScript(text.as<const char>(), action == RegistrationAction::kRegister,
                            action == RegistrationAction::kUnregisterClassKey ? ScriptScope::kClassKeysOnly
                                                                              : ScriptScope::kAllKeys);
}
}  // namespace

HRESULT RunScriptResource(const ModuleState& module, WORD wResourceId, RegistrationAction action,
                          const ScriptReplacement* pExtras) {
    ReplacementMap map;
    char szPath[kPathBuffer];
    RETURN_IF_FAILED(ChooseModulePath(module, szPath));
    // A variable that could not be stored would leave the script's
    // references to it unexpanded: stop before any key is written.
    RETURN_IF_FAILED(AddModuleVariable(map, szPath));
    for (const ScriptReplacement* p = pExtras; p && p->pszName; ++p)
        RETURN_IF_FAILED(
            map.Add(reinterpret_cast<const char16_t*>(p->pszName), reinterpret_cast<const char16_t*>(p->pszValue)));
    return RunScriptFromFile(szPath, wResourceId, action, map);
}

// Self-registration of the module: the class table's registry scripts, their
// component categories and the embedded type library.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "platform/module_state.h"

// An extra %NAME% variable for a registry script; a list ends with a null name.
struct ScriptReplacement {
    const wchar_t* pszName;
    const wchar_t* pszValue;
};

HRESULT RegisterModule(const ModuleState& module);
HRESULT UnregisterModule(const ModuleState& module);

// Runs the REGISTRY resource wResourceId of the module's own file with the
// variable "Module" (the module path, single quotes doubled) and the extras.
HRESULT RunScriptResource(const ModuleState& module, WORD wResourceId, RegistrationAction action,
                          const ScriptReplacement* pExtras);

// A GUID as registry keys name it, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
constexpr int kGuidTextSize = 39;
bool GuidText(REFGUID guid, char (&szGuid)[kGuidTextSize]);

// True when the class key of clsid exists in the other registry view: the
// 32-bit view for a 64-bit module, the 64-bit view for a 32-bit module on
// 64-bit Windows (a 32-bit system has one view only).
bool OtherViewHasClass(const CLSID& clsid);

HRESULT RegisterClassCategories(const CLSID& clsid, const ClassCategory* pCategories, BOOL bRegister);

// The module's type library and the path it loaded from (the module file, or
// the same path with ".tlb" for its extension).
HRESULT LoadModuleTypeLib(const ModuleState& module, BSTR* pbstrPath, ITypeLib** ppTypeLib);
HRESULT RegisterModuleTypeLib(const ModuleState& module);
// With bKeepShared only this platform's path key (win32 or win64) goes; the
// library's key, which both registry views share, stays for the other DLL.
HRESULT UnregisterModuleTypeLib(const ModuleState& module, bool bKeepShared);

// A class row's registration routine: the registry script wScriptId of the
// module (resources/resource_ids.h names them), no extra variables.
template <WORD wScriptId>
HRESULT RegisterScript(RegistrationAction action) {
    return RunScriptResource(g_ModuleState, wScriptId, action, nullptr);
}


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
HRESULT RunScriptResource(const ModuleState& module, WORD wResourceId, BOOL bRegister,
                          const ScriptReplacement* pExtras);

HRESULT RegisterClassCategories(const CLSID& clsid, const ClassCategory* pCategories, BOOL bRegister);

// The module's type library and the path it loaded from (the module file, or
// the same path with ".tlb" for its extension).
HRESULT LoadModuleTypeLib(const ModuleState& module, BSTR* pbstrPath, ITypeLib** ppTypeLib);
HRESULT RegisterModuleTypeLib(const ModuleState& module);
HRESULT UnregisterModuleTypeLib(const ModuleState& module);

// The rows' registration routines: WebMng's script 101 and Upload's script
// 102, no extra variables.
HRESULT RegisterWebMngScript(BOOL bRegister);
HRESULT RegisterUploadScript(BOOL bRegister);


// The class table: one row per class the module serves, ended by a row whose
// class identifier pointer is null.
#pragma once
#include <windows.h>
#include <unknwn.h>

// One component category a class implements (kind 1) or requires (any other
// kind); a list ends with kind 0.
struct ClassCategory {
    DWORD dwKind;
    const GUID* pCategoryId;
};

typedef HRESULT (*PFNCREATEOBJECT)(IUnknown* pOuter, REFIID riid, void** ppv);

// What a class's registration routine does. kUnregisterClassKey removes the
// class key alone: the other bitness's DLL still has its class key in the
// other registry view and needs the keys both views share.
enum class RegistrationAction { kRegister, kUnregister, kUnregisterClassKey };

struct ClassTableEntry {
    const CLSID* pClassId;
    HRESULT (*pfnRegister)(RegistrationAction action);
    HRESULT (*pfnCreateClassObject)(PFNCREATEOBJECT pfnCreateObject, REFIID riid, void** ppv);
    PFNCREATEOBJECT pfnCreateObject;
    IUnknown* pClassObject;
    const wchar_t* (*pfnDescription)();
    const ClassCategory* (*pfnCategories)();
    void (*pfnClassInit)(BOOL bAttach);
};

// The rows of this module (module/class_rows.cpp), ended by the null row.
extern ClassTableEntry g_ClassTable[];

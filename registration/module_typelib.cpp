// Registration of the type library the module carries.
#include <cstring>

#include "platform/com_ptr.h"
#include "platform/hresult_checks.h"
#include "platform/multibyte_text.h"
#include "platform/win32_owners.h"
#include "registration/registry_win32.h"
#include "registration/server_registration.h"

namespace {
// Room for a 260-byte module name and a replaced extension.
const DWORD kTypeLibPathBuffer = 272;

// Replaces the text from the path's last '.' (double-byte characters taken
// whole) with ".tlb", or appends ".tlb" when there is none.
void UseTlbExtension(char* pszPath) {
    char* pszDot = nullptr;
    for (char* p = pszPath; *p; p = CharNextA(p))
        if (*p == '.') pszDot = p;
    std::strcpy(pszDot ? pszDot : pszPath + std::strlen(pszPath), ".tlb");
}

typedef HRESULT(WINAPI* PFNUNREGISTERTYPELIB)(REFGUID, WORD, WORD, LCID, SYSKIND);

// Removes TypeLib\{LIBID}\MAJOR.MINOR\LCID\PLATFORM (numbers in hex, as
// RegisterTypeLib writes them): this platform's path to the library alone.
void DeletePlatformPathKey(const TLIBATTR& attr) {
    char szLibId[kGuidTextSize];
    if (!GuidText(attr.guid, szLibId)) return;
    const char* pszPlatform = attr.syskind == SYS_WIN64 ? "win64" : attr.syskind == SYS_WIN16 ? "win16" : "win32";
    char szKey[128];
    wsprintfA(szKey, "TypeLib\\%s\\%x.%x\\%lx\\%s", szLibId, attr.wMajorVerNum, attr.wMinorVerNum,
              static_cast<unsigned long>(attr.lcid), pszPlatform);
    Win32Registry registry;
    registry.DeleteKey(HKEY_CLASSES_ROOT, szKey);
}
}  // namespace

HRESULT LoadModuleTypeLib(const ModuleState& module, BSTR* pbstrPath, ITypeLib** ppTypeLib) {
    *pbstrPath = nullptr;
    *ppTypeLib = nullptr;
    char szPath[kTypeLibPathBuffer];
    DWORD cch = GetModuleFileNameA(module.hTypeLibModule, szPath, MAX_PATH);
    szPath[cch < MAX_PATH ? cch : MAX_PATH - 1] = '\0';
    UniqueBstr path(MultiByteToBstr(CP_ACP, szPath, -1));
    HRESULT hr = LoadTypeLib(path.get(), ppTypeLib);
    if (FAILED(hr)) {
        UseTlbExtension(szPath);
        *path.put() = MultiByteToBstr(CP_ACP, szPath, -1);
        hr = LoadTypeLib(path.get(), ppTypeLib);
        if (FAILED(hr)) {
            *ppTypeLib = nullptr;
            return hr;
        }
    }
    *pbstrPath = path.release();
    return hr;
}

HRESULT RegisterModuleTypeLib(const ModuleState& module) {
    UniqueBstr path;
    ComPtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(LoadModuleTypeLib(module, path.put(), typeLib.put()));
    // The help directory is the module's folder, ending in its separator.
    wchar_t szHelpDir[MAX_PATH];
    lstrcpynW(szHelpDir, path.get(), MAX_PATH);
    size_t cchDir = 0;
    for (size_t i = 0; szHelpDir[i]; ++i)
        if (szHelpDir[i] == L'\\' || szHelpDir[i] == L'/' || szHelpDir[i] == L':') cchDir = i + 1;
    szHelpDir[cchDir] = L'\0';
    return RegisterTypeLib(typeLib.get(), path.get(), szHelpDir);
}

HRESULT UnregisterModuleTypeLib(const ModuleState& module, bool bKeepShared) {
    UniqueBstr path;
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadModuleTypeLib(module, path.put(), typeLib.put());
    if (FAILED(hr)) return hr;
    LibAttrBlock attr(typeLib.get());
    if (SUCCEEDED(typeLib->GetLibAttr(attr.put()))) {
        const TLIBATTR* pAttr = attr.get();
        if (bKeepShared) {
            DeletePlatformPathKey(*pAttr);
            return hr;
        }
        UniqueLibrary oleaut(LoadLibraryA("oleaut32.dll"));
        auto pfnUnregister = oleaut.get() ? reinterpret_cast<PFNUNREGISTERTYPELIB>(
                                                reinterpret_cast<void*>(GetProcAddress(oleaut.get(), "UnRegisterTypeLib")))
                                          : nullptr;
        if (pfnUnregister) pfnUnregister(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid, pAttr->syskind);
    }
    return hr;
}

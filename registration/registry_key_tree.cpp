// The engine's questions to the registry about whole keys.
#include "registration/registry_script_engine.h"

LONG RegistryScriptEngine::DeleteKeyTree(HKEY hkeyParent, const char* pszName) {
    RegistryKey key(m_registry);
    LONG lResult = m_registry.OpenKey(hkeyParent, pszName, KEY_READ | KEY_WRITE, key.put());
    if (lResult != ERROR_SUCCESS) return lResult;
    for (;;) {
        char szSubkey[256];
        DWORD cchSubkey = sizeof szSubkey;
        // Index 0 every time: each removal moves the next subkey there.
        if (m_registry.EnumKey(key.get(), 0, szSubkey, &cchSubkey) != ERROR_SUCCESS) break;
        lResult = DeleteKeyTree(key.get(), szSubkey);
        if (lResult != ERROR_SUCCESS) return lResult;
    }
    key.Close();
    return m_registry.DeleteKey(hkeyParent, pszName);
}

bool RegistryScriptEngine::KeyHasSubkeys(HKEY hKey) {
    DWORD cSubkeys = 0;
    return m_registry.QueryInfoKey(hKey, &cSubkeys, nullptr) == ERROR_SUCCESS && cSubkeys > 0;
}

bool RegistryScriptEngine::KeyHasNamedValues(HKEY hKey) {
    DWORD cValues = 0;
    if (m_registry.QueryInfoKey(hKey, nullptr, &cValues) != ERROR_SUCCESS || cValues == 0) return false;
    if (cValues >= 2) return true;
    char szName[kTokenBufferSize];
    DWORD cchName = sizeof szName;
    return m_registry.EnumValue(hKey, 0, szName, &cchName) == ERROR_SUCCESS && szName[0] != '\0';
}

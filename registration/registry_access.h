// The registry operations the script engine needs, each with the contract of
// the Win32 function named beside it (ANSI names and data, ERROR_* results).
// The Windows build routes them to the system registry; the host build has an
// in-memory registry with the same contracts.
#pragma once
#include "platform/win32_types.h"

class RegistryAccess {
public:
    // RegOpenKeyExA: an empty name opens hKey's own key again.
    virtual LONG OpenKey(HKEY hKey, const char* pszSubKey, REGSAM samDesired, HKEY* phkResult) = 0;
    // RegCreateKeyExA with no class, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS
    // and default security: opens the key when it exists.
    virtual LONG CreateKey(HKEY hKey, const char* pszSubKey, HKEY* phkResult) = 0;
    // RegSetValueExA: a null or empty name is the key's default value.
    virtual LONG SetValue(HKEY hKey, const char* pszValueName, DWORD dwType, const BYTE* pbData,
                          DWORD cbData) = 0;
    // RegDeleteValueA.
    virtual LONG DeleteValue(HKEY hKey, const char* pszValueName) = 0;
    // RegDeleteKeyA: refuses a key that has subkeys.
    virtual LONG DeleteKey(HKEY hKey, const char* pszSubKey) = 0;
    // RegEnumKeyExA: *pcchName is the buffer's room in, the name's length out.
    virtual LONG EnumKey(HKEY hKey, DWORD dwIndex, char* pszName, DWORD* pcchName) = 0;
    // RegEnumValueA, name only.
    virtual LONG EnumValue(HKEY hKey, DWORD dwIndex, char* pszValueName, DWORD* pcchValueName) = 0;
    // RegQueryInfoKeyA, the two counts only; either pointer may be null.
    virtual LONG QueryInfoKey(HKEY hKey, DWORD* pcSubKeys, DWORD* pcValues) = 0;
    // RegCloseKey.
    virtual LONG CloseKey(HKEY hKey) = 0;

protected:
    ~RegistryAccess() = default;
};

// Closes one registry key when its scope ends.
class RegistryKey {
public:
    explicit RegistryKey(RegistryAccess& registry) : m_registry(registry) {}
    ~RegistryKey() { if (m_hKey) m_registry.CloseKey(m_hKey); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return m_hKey; }
    HKEY* put() { Close(); return &m_hKey; }
    // Closes the key now; the registry's status, ERROR_SUCCESS when none is open.
    LONG Close() {
        HKEY hKey = m_hKey;
        m_hKey = nullptr;
        return hKey ? m_registry.CloseKey(hKey) : ERROR_SUCCESS;
    }
    // Takes hKey as the open key; the previous one is closed first.
    LONG Reset(HKEY hKey) {
        LONG lResult = Close();
        m_hKey = hKey;
        return lResult;
    }

private:
    RegistryAccess& m_registry;
    HKEY m_hKey = nullptr;
};

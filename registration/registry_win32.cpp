#include "registration/registry_win32.h"

LONG Win32Registry::OpenKey(HKEY hKey, const char* pszSubKey, REGSAM samDesired, HKEY* phkResult) {
    return RegOpenKeyExA(hKey, pszSubKey, 0, samDesired, phkResult);
}

LONG Win32Registry::CreateKey(HKEY hKey, const char* pszSubKey, HKEY* phkResult) {
    DWORD dwDisposition = 0;
    return RegCreateKeyExA(hKey, pszSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, phkResult,
                           &dwDisposition);
}

LONG Win32Registry::SetValue(HKEY hKey, const char* pszValueName, DWORD dwType, const BYTE* pbData, DWORD cbData) {
    return RegSetValueExA(hKey, pszValueName, 0, dwType, pbData, cbData);
}

LONG Win32Registry::DeleteValue(HKEY hKey, const char* pszValueName) { return RegDeleteValueA(hKey, pszValueName); }

LONG Win32Registry::DeleteKey(HKEY hKey, const char* pszSubKey) { return RegDeleteKeyA(hKey, pszSubKey); }

LONG Win32Registry::EnumKey(HKEY hKey, DWORD dwIndex, char* pszName, DWORD* pcchName) {
    return RegEnumKeyExA(hKey, dwIndex, pszName, pcchName, nullptr, nullptr, nullptr, nullptr);
}

LONG Win32Registry::EnumValue(HKEY hKey, DWORD dwIndex, char* pszValueName, DWORD* pcchValueName) {
    return RegEnumValueA(hKey, dwIndex, pszValueName, pcchValueName, nullptr, nullptr, nullptr, nullptr);
}

LONG Win32Registry::QueryInfoKey(HKEY hKey, DWORD* pcSubKeys, DWORD* pcValues) {
    return RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, pcSubKeys, nullptr, nullptr, pcValues, nullptr, nullptr,
                            nullptr, nullptr);
}

LONG Win32Registry::CloseKey(HKEY hKey) { return RegCloseKey(hKey); }

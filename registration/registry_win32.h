// The registry script engine's registry operations on the Windows registry.
#pragma once
#include "registration/registry_access.h"

class Win32Registry final : public RegistryAccess {
public:
    LONG OpenKey(HKEY hKey, const char* pszSubKey, REGSAM samDesired, HKEY* phkResult) override;
    LONG CreateKey(HKEY hKey, const char* pszSubKey, HKEY* phkResult) override;
    LONG SetValue(HKEY hKey, const char* pszValueName, DWORD dwType, const BYTE* pbData, DWORD cbData) override;
    LONG DeleteValue(HKEY hKey, const char* pszValueName) override;
    LONG DeleteKey(HKEY hKey, const char* pszSubKey) override;
    LONG EnumKey(HKEY hKey, DWORD dwIndex, char* pszName, DWORD* pcchName) override;
    LONG EnumValue(HKEY hKey, DWORD dwIndex, char* pszValueName, DWORD* pcchValueName) override;
    LONG QueryInfoKey(HKEY hKey, DWORD* pcSubKeys, DWORD* pcValues) override;
    LONG CloseKey(HKEY hKey) override;
};

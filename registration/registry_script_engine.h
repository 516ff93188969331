// Runs a registry script against a registry in either direction: registration
// creates the keys the script names and writes its values; unregistration
// walks the same text and removes what it names, sparing keys the script marks
// NoRemove and keys that still hold subkeys it does not name.
#pragma once
#include "registration/registry_access.h"
#include "registration/script_tokens.h"

class ReplacementMap;

// Key and value names are copied into buffers of this size.
constexpr std::size_t kNameBufferSize = 260;
// Deeper nesting than the registry itself allows is refused, so a hostile
// script cannot exhaust the stack.
constexpr int kMaxBlockDepth = 512;

// What an unregistration removes: everything the script names, or only what
// lies beneath a root's CLSID key, the one key Windows keeps apart per
// registry view. With kClassKeysOnly the keys both views share (ProgIDs) are
// walked and kept for the other bitness's registration of the same class.
// Registration always writes everything.
enum class ScriptScope { kAllKeys, kClassKeysOnly };

class RegistryScriptEngine {
public:
    RegistryScriptEngine(RegistryAccess& registry, const ReplacementMap& replacements)
        : m_registry(registry), m_replacements(replacements) {}
    RegistryScriptEngine(const RegistryScriptEngine&) = delete;
    RegistryScriptEngine& operator=(const RegistryScriptEngine&) = delete;

    // pszScript: ANSI text ending in NUL. S_OK or the first failure; a root
    // block whose registration fails is unregistered again before returning.
    HRESULT RunScript(const char* pszScript, bool bRegister, ScriptScope scope = ScriptScope::kAllKeys);

    // Deletes the key and everything beneath it; the registry's status.
    LONG DeleteKeyTree(HKEY hkeyParent, const char* pszName);
    // A failed query counts as no subkeys.
    bool KeyHasSubkeys(HKEY hKey);
    // Two or more values, or one value that has a name.
    bool KeyHasNamedValues(HKEY hKey);

private:
    HRESULT ProcessBlock(char* pszToken, HKEY hkeyParent, bool bRegister, bool bWalkOnly);
    HRESULT RegisterBlock(char* pszToken, HKEY hkeyParent);
    HRESULT RegisterStatement(char* pszToken, HKEY hkeyParent, RegistryKey& current);
    HRESULT UnregisterBlock(char* pszToken, HKEY hkeyParent, bool bWalkOnly);
    HRESULT UnregisterKey(char* pszToken, HKEY hkeyParent, bool bDeleteAllowed, bool bDeleteStatement,
                          RegistryKey& current, bool& bWalk);
    HRESULT WalkBlock(char* pszToken, bool bDeleteStatement);
    bool IsKeptSharedKey(const char* pszName) const;
    HRESULT WriteValue(HKEY hKey, const char* pszValueName, char* pszToken);
    HRESULT SkipValueClause(char* pszToken);
    HRESULT ReadName(char* pszToken, char* pszName);
    LONG OpenOrCreateKey(HKEY hkeyParent, const char* pszName, HKEY* phKey);

    RegistryAccess& m_registry;
    const ReplacementMap& m_replacements;
    ScriptCursor m_cursor;
    int m_nBlockDepth = 0;
    ScriptScope m_scope = ScriptScope::kAllKeys;
};

// 0 to 15 for a hexadecimal digit, 0 for any other byte.
unsigned char HexDigitValue(unsigned char ch);

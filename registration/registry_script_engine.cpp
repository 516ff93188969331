#include "registration/registry_script_engine.h"

#include "platform/hresult_checks.h"
#include "platform/number_conversion.h"
#include "registration/replacement_map.h"
#include "registration/script_expand.h"
#include "platform/task_memory.h"
#include "platform/text_services.h"

#include <cstring>

namespace {
// Below the root only the token "{" alone opens a block; "{6F1D...}" is a name.
bool IsBlockOpening(const char* pszToken) { return pszToken[0] == '{' && pszToken[1] == '\0'; }
bool IsClosingToken(const char* pszToken) { return pszToken[0] == '}'; }
bool IsValueClause(const char* pszToken) { return pszToken[0] == '='; }

// A key name names exactly one level beneath its parent and fits the name
// buffer. An empty name would stand for the parent itself, and removing it
// would remove the parent and everything beneath it.
HRESULT CheckKeyName(const char* pszName) {
    if (!*pszName || HasBackslash(pszName) || std::strlen(pszName) >= kNameBufferSize) return DISP_E_EXCEPTION;
    return S_OK;
}

// Resets the cursor when a run ends, so nothing outlives it.
class CursorScope {
public:
    CursorScope(ScriptCursor& cursor, const char* psz) : m_cursor(cursor) { m_cursor.SetPosition(psz); }
    ~CursorScope() { m_cursor.SetPosition(""); }
    CursorScope(const CursorScope&) = delete;
    CursorScope& operator=(const CursorScope&) = delete;

private:
    ScriptCursor& m_cursor;
};

class DepthScope {
public:
    explicit DepthScope(int& nDepth) : m_nDepth(++nDepth) {}
    ~DepthScope() { --m_nDepth; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;

private:
    int& m_nDepth;
};
}  // namespace

unsigned char HexDigitValue(unsigned char ch) {
    if (ch >= '0' && ch <= '9') return static_cast<unsigned char>(ch - '0');
    if (ch >= 'A' && ch <= 'F') return static_cast<unsigned char>(ch - 'A' + 10);
    if (ch >= 'a' && ch <= 'f') return static_cast<unsigned char>(ch - 'a' + 10);
    return 0;
}

HRESULT RegistryScriptEngine::RunScript(const char* pszScript, bool bRegister, ScriptScope scope) {
    if (!pszScript) return E_POINTER;
    m_scope = scope;
    char* pszExpanded = nullptr;
    RETURN_IF_FAILED(ExpandVariables(pszScript, m_replacements, &pszExpanded));
    TaskMemBlock expanded(pszExpanded);
    CursorScope cursor(m_cursor, pszExpanded);

    char szToken[kTokenBufferSize];
    while (!m_cursor.AtEnd()) {
        RETURN_IF_FAILED(m_cursor.ReadToken(szToken));
        HKEY hkeyRoot = LookupRootKey(szToken);
        if (!hkeyRoot) return DISP_E_EXCEPTION;
        RETURN_IF_FAILED(m_cursor.ReadToken(szToken));
        if (szToken[0] != '{') return DISP_E_EXCEPTION;
        if (bRegister) {
            const char* pszBlock = m_cursor.Position();
            HRESULT hr = ProcessBlock(szToken, hkeyRoot, true, false);
            if (FAILED(hr)) {
                // Take back what this root block wrote; earlier blocks stay.
                m_cursor.SetPosition(pszBlock);
                ProcessBlock(szToken, hkeyRoot, false, false);
                return hr;
            }
        } else {
            RETURN_IF_FAILED(ProcessBlock(szToken, hkeyRoot, false, false));
        }
        m_cursor.SkipBlanks();
    }
    return S_OK;
}

HRESULT RegistryScriptEngine::ProcessBlock(char* pszToken, HKEY hkeyParent, bool bRegister, bool bWalkOnly) {
    if (m_nBlockDepth >= kMaxBlockDepth) return DISP_E_EXCEPTION;
    DepthScope depth(m_nBlockDepth);
    return bRegister ? RegisterBlock(pszToken, hkeyParent) : UnregisterBlock(pszToken, hkeyParent, bWalkOnly);
}

HRESULT RegistryScriptEngine::SkipValueClause(char* pszToken) {
    if (!IsValueClause(pszToken)) return S_OK;
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    return m_cursor.ReadToken(pszToken);
}

HRESULT RegistryScriptEngine::ReadName(char* pszToken, char* pszName) {
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    std::size_t cb = std::strlen(pszToken);
    if (cb >= kNameBufferSize) return DISP_E_EXCEPTION;
    std::memcpy(pszName, pszToken, cb + 1);
    return S_OK;
}

// ---- Registration ----

HRESULT RegistryScriptEngine::RegisterBlock(char* pszToken, HKEY hkeyParent) {
    RegistryKey current(m_registry);
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    while (!IsClosingToken(pszToken)) RETURN_IF_FAILED(RegisterStatement(pszToken, hkeyParent, current));
    current.Close();
    return S_OK;
}

// Processes the statement that begins with the token in pszToken; on success
// pszToken holds the first token after it.
HRESULT RegistryScriptEngine::RegisterStatement(char* pszToken, HKEY hkeyParent, RegistryKey& current) {
    bool bDelete = IsKeyword(pszToken, "Delete");
    if (bDelete || IsKeyword(pszToken, "ForceRemove")) {
        RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        RETURN_IF_FAILED(CheckKeyName(pszToken));
        if (!IsProtectedKeyName(pszToken)) DeleteKeyTree(hkeyParent, pszToken);  // a missing key is no failure
        if (bDelete) {
            RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
            RETURN_IF_FAILED(SkipValueClause(pszToken));
            return IsBlockOpening(pszToken) ? DISP_E_EXCEPTION : S_OK;
        }
    }
    if (IsKeyword(pszToken, "NoRemove")) RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));

    if (IsKeyword(pszToken, "val")) {
        char szValueName[kNameBufferSize];
        RETURN_IF_FAILED(ReadName(pszToken, szValueName));
        RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        if (!IsValueClause(pszToken)) return DISP_E_EXCEPTION;
        RETURN_IF_FAILED(WriteValue(hkeyParent, szValueName, pszToken));
        return IsBlockOpening(pszToken) ? DISP_E_EXCEPTION : S_OK;
    }

    RETURN_IF_FAILED(CheckKeyName(pszToken));
    HKEY hKey = nullptr;
    if (OpenOrCreateKey(hkeyParent, pszToken, &hKey) != ERROR_SUCCESS) return DISP_E_EXCEPTION;
    if (current.Reset(hKey) != ERROR_SUCCESS) return DISP_E_EXCEPTION;
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    if (IsValueClause(pszToken)) RETURN_IF_FAILED(WriteValue(current.get(), nullptr, pszToken));
    if (IsBlockOpening(pszToken)) {
        RETURN_IF_FAILED(ProcessBlock(pszToken, current.get(), true, false));
        RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    }
    return S_OK;
}

LONG RegistryScriptEngine::OpenOrCreateKey(HKEY hkeyParent, const char* pszName, HKEY* phKey) {
    if (m_registry.OpenKey(hkeyParent, pszName, KEY_ALL_ACCESS, phKey) == ERROR_SUCCESS) return ERROR_SUCCESS;
    // A key we may only read is still walked: its values fail silently and
    // its subkeys are opened or created through it.
    if (m_registry.OpenKey(hkeyParent, pszName, KEY_READ, phKey) == ERROR_SUCCESS) return ERROR_SUCCESS;
    return m_registry.CreateKey(hkeyParent, pszName, phKey);
}

HRESULT RegistryScriptEngine::WriteValue(HKEY hKey, const char* pszValueName, char* pszToken) {
    char szType[kTokenBufferSize];
    char szValue[kTokenBufferSize];
    RETURN_IF_FAILED(m_cursor.ReadToken(szType));
    VARTYPE vt = LookupValueType(szType);
    if (vt == VT_EMPTY) return DISP_E_EXCEPTION;
    m_cursor.SkipBlanks();
    RETURN_IF_FAILED(m_cursor.ReadToken(szValue));

    std::size_t cbValue = std::strlen(szValue);
    if (vt == VT_BSTR) {
        m_registry.SetValue(hKey, pszValueName, REG_SZ, reinterpret_cast<const BYTE*>(szValue),
                            static_cast<DWORD>(cbValue + 1));
    } else if (vt == VT_UI4) {
        char16_t szWide[kTokenBufferSize];
        std::uint32_t ulNumber = 0;
        if (TextAnsiToWide(szValue, szWide, static_cast<int>(kTokenBufferSize)) == 0 ||
            FAILED(NumberUI4FromStr(szWide, &ulNumber)))
            return DISP_E_EXCEPTION;
        DWORD dwNumber = ulNumber;
        m_registry.SetValue(hKey, pszValueName, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNumber),
                            sizeof dwNumber);
    } else {
        if (cbValue % 2 != 0) return E_FAIL;
        // The type letter is spent; its buffer takes the bytes.
        auto pbBytes = reinterpret_cast<BYTE*>(szType);
        std::memset(pbBytes, 0, cbValue / 2);
        for (std::size_t i = 0; i < cbValue; ++i)
            pbBytes[i / 2] |= static_cast<BYTE>(HexDigitValue(static_cast<unsigned char>(szValue[i])) << (i % 2 == 0 ? 4 : 0));
        m_registry.SetValue(hKey, pszValueName, REG_BINARY, pbBytes, static_cast<DWORD>(cbValue / 2));
    }
    return m_cursor.ReadToken(pszToken);
}

// ---- Unregistration ----

HRESULT RegistryScriptEngine::UnregisterBlock(char* pszToken, HKEY hkeyParent, bool bWalkOnly) {
    RegistryKey current(m_registry);
    bool bDeleteAllowed = true;
    bool bWalk = bWalkOnly;
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    while (!IsClosingToken(pszToken)) {
        bool bDelete = IsKeyword(pszToken, "Delete");
        if (bDelete || IsKeyword(pszToken, "ForceRemove")) RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        if (IsKeyword(pszToken, "NoRemove")) {
            bDeleteAllowed = false;
            RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        }

        if (IsKeyword(pszToken, "val")) {
            char szValueName[kNameBufferSize];
            RETURN_IF_FAILED(ReadName(pszToken, szValueName));
            RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
            if (!IsValueClause(pszToken)) return DISP_E_EXCEPTION;
            if (!bWalk) m_registry.DeleteValue(hkeyParent, szValueName);
            RETURN_IF_FAILED(SkipValueClause(pszToken));
            if (IsBlockOpening(pszToken)) return DISP_E_EXCEPTION;
            continue;
        }

        RETURN_IF_FAILED(CheckKeyName(pszToken));
        if (bWalk || IsKeptSharedKey(pszToken)) {
            RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
            RETURN_IF_FAILED(SkipValueClause(pszToken));
            // After a walked block of its own the block goes on as it began.
            if (IsBlockOpening(pszToken)) bWalk = bWalkOnly;
            RETURN_IF_FAILED(WalkBlock(pszToken, bDelete));
            continue;
        }
        RETURN_IF_FAILED(UnregisterKey(pszToken, hkeyParent, bDeleteAllowed, bDelete, current, bWalk));
    }
    current.Close();
    return S_OK;
}

// A key directly beneath a root, other than CLSID, while only class keys are
// removed.
bool RegistryScriptEngine::IsKeptSharedKey(const char* pszName) const {
    return m_scope == ScriptScope::kClassKeysOnly && m_nBlockDepth == 1 && !IsKeyword(pszName, "CLSID");
}

// Reads through the block that follows a key when there is one, changing
// nothing: its key is gone, missing, or the walk is walk-only anyway.
HRESULT RegistryScriptEngine::WalkBlock(char* pszToken, bool bDeleteStatement) {
    if (!IsBlockOpening(pszToken)) return S_OK;
    if (bDeleteStatement) return DISP_E_EXCEPTION;
    RETURN_IF_FAILED(ProcessBlock(pszToken, nullptr, false, true));
    return m_cursor.ReadToken(pszToken);
}

// Unregisters the key named in pszToken beneath hkeyParent, with its value
// clause and block; pszToken ends at the first token after the statement. A
// missing key without a block of its own leaves the rest of the enclosing
// block to be walked without changes (bWalk set).
HRESULT RegistryScriptEngine::UnregisterKey(char* pszToken, HKEY hkeyParent, bool bDeleteAllowed,
                                            bool bDeleteStatement, RegistryKey& current, bool& bWalk) {
    char szLastKey[kNameBufferSize];
    std::memcpy(szLastKey, pszToken, std::strlen(pszToken) + 1);

    // Write access as well, so val statements inside the key's block can
    // delete their values; a key we may only read is still walked.
    HKEY hKey = nullptr;
    if (m_registry.OpenKey(hkeyParent, szLastKey, KEY_READ | KEY_SET_VALUE, &hKey) != ERROR_SUCCESS &&
        m_registry.OpenKey(hkeyParent, szLastKey, KEY_READ, &hKey) != ERROR_SUCCESS) {
        RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        RETURN_IF_FAILED(SkipValueClause(pszToken));
        if (!IsBlockOpening(pszToken)) {
            bWalk = true;
            return S_OK;
        }
        return WalkBlock(pszToken, bDeleteStatement);
    }
    current.Reset(hKey);

    if (KeyHasSubkeys(hKey) || KeyHasNamedValues(hKey)) {
        RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        RETURN_IF_FAILED(SkipValueClause(pszToken));
        if (IsBlockOpening(pszToken)) {
            if (bDeleteStatement) return DISP_E_EXCEPTION;
            RETURN_IF_FAILED(ProcessBlock(pszToken, hKey, false, false));
            RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
        }
        if (KeyHasSubkeys(hKey)) return S_OK;  // foreign subkeys: the key stays
        if (current.Close() != ERROR_SUCCESS) return DISP_E_EXCEPTION;
        if (bDeleteAllowed) m_registry.DeleteKey(hkeyParent, szLastKey);
        return S_OK;
    }

    if (current.Close() != ERROR_SUCCESS) return DISP_E_EXCEPTION;
    if (bDeleteAllowed) m_registry.DeleteKey(hkeyParent, szLastKey);
    RETURN_IF_FAILED(m_cursor.ReadToken(pszToken));
    RETURN_IF_FAILED(SkipValueClause(pszToken));
    return WalkBlock(pszToken, bDeleteStatement);
}

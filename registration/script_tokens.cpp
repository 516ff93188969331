#include "registration/script_tokens.h"

#include "platform/text_services.h"

#include <cstring>

namespace {
bool IsBlank(char ch) { return ch == '\t' || ch == '\n' || ch == '\r' || ch == ' '; }

// A quoted token copies a character only while this many bytes are free: a
// double-byte character and the terminator.
constexpr std::size_t kQuotedReserve = 3;

struct RootKeyEntry {
    const char* pszName;
    HKEY hKey;
};

struct ValueTypeEntry {
    const char* pszLetter;
    VARTYPE vt;
};
}  // namespace

void ScriptCursor::SkipBlanks() {
    while (IsBlank(*m_psz)) ++m_psz;
}

HRESULT ScriptCursor::ReadToken(char* pszToken) {
    SkipBlanks();
    if (!*m_psz) return DISP_E_EXCEPTION;
    return *m_psz == '\'' ? ReadQuotedToken(pszToken) : ReadBareToken(pszToken);
}

HRESULT ScriptCursor::ReadQuotedToken(char* pszToken) {
    const char* p = m_psz + 1;
    std::size_t cb = 0;
    for (;;) {
        if (!*p) return DISP_E_EXCEPTION;
        if (*p == '\'' && p[1] != '\'') break;
        if (kTokenBufferSize - cb < kQuotedReserve) return DISP_E_EXCEPTION;
        if (*p == '\'') {  // '' stands for one quote
            pszToken[cb++] = '\'';
            p += 2;
            continue;
        }
        const char* pNext = TextCharNext(p);
        while (p < pNext) pszToken[cb++] = *p++;
    }
    pszToken[cb] = '\0';
    m_psz = p + 1;
    return S_OK;
}

HRESULT ScriptCursor::ReadBareToken(char* pszToken) {
    const char* p = m_psz;
    std::size_t cb = 0;
    while (*p && !IsBlank(*p)) {
        const char* pNext = TextCharNext(p);
        if (cb + static_cast<std::size_t>(pNext - p) >= kTokenBufferSize) return DISP_E_EXCEPTION;
        while (p < pNext) pszToken[cb++] = *p++;
    }
    pszToken[cb] = '\0';
    m_psz = p;
    return S_OK;
}

HKEY LookupRootKey(const char* pszName) {
    static const RootKeyEntry kRootKeys[] = {
        {"HKCR", HKEY_CLASSES_ROOT},
        {"HKCU", HKEY_CURRENT_USER},
        {"HKLM", HKEY_LOCAL_MACHINE},
        {"HKU", HKEY_USERS},
        {"HKPD", HKEY_PERFORMANCE_DATA},
        {"HKDD", HKEY_DYN_DATA},
        {"HKCC", HKEY_CURRENT_CONFIG},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", HKEY_USERS},
        {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
        {"HKEY_DYN_DATA", HKEY_DYN_DATA},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const RootKeyEntry& entry : kRootKeys)
        if (TextCompareNoCase(pszName, entry.pszName) == 0) return entry.hKey;
    return nullptr;
}

VARTYPE LookupValueType(const char* pszType) {
    static const ValueTypeEntry kValueTypes[] = {
        {"S", VT_BSTR},
        {"D", VT_UI4},
        {"B", VT_UI1},
    };
    for (const ValueTypeEntry& entry : kValueTypes)
        if (TextCompareNoCase(pszType, entry.pszLetter) == 0) return entry.vt;
    return VT_EMPTY;
}

bool IsKeyword(const char* pszToken, const char* pszKeyword) {
    return TextCompareNoCase(pszToken, pszKeyword) == 0;
}

bool IsProtectedKeyName(const char* pszName) {
    return IsKeyword(pszName, "CLSID") || IsKeyword(pszName, "TYPELIB");
}

bool HasBackslash(const char* pszName) {
    for (const char* p = pszName; *p; p = TextCharNext(p))
        if (*p == '\\') return true;
    return false;
}

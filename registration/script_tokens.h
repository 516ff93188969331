// Tokens of the expanded registry script text and the tables that give them
// meaning: root keys, value types and keywords.
#pragma once
#include "platform/win32_types.h"

#include <cstddef>

// Every token buffer holds this many bytes, terminator included.
constexpr std::size_t kTokenBufferSize = 4096;

// The read position in an expanded script text.
class ScriptCursor {
public:
    explicit ScriptCursor(const char* psz = "") : m_psz(psz) {}
    const char* Position() const { return m_psz; }
    void SetPosition(const char* psz) { m_psz = psz; }
    bool AtEnd() const { return *m_psz == '\0'; }

    // Skips white space and reads one token into pszToken (kTokenBufferSize
    // bytes): a quoted token without its quotes, or a bare one up to the next
    // white space. DISP_E_EXCEPTION at the end of the text, for an unterminated
    // quoted token and for a token too long for the buffer.
    HRESULT ReadToken(char* pszToken);
    void SkipBlanks();

private:
    HRESULT ReadQuotedToken(char* pszToken);
    HRESULT ReadBareToken(char* pszToken);

    const char* m_psz;
};

// The predefined key a root key name selects, or null.
HKEY LookupRootKey(const char* pszName);
// The variant type a type letter selects, or VT_EMPTY.
VARTYPE LookupValueType(const char* pszType);

bool IsKeyword(const char* pszToken, const char* pszKeyword);
// CLSID and TYPELIB are never removed by ForceRemove or Delete.
bool IsProtectedKeyName(const char* pszName);
// True when a backslash occurs as a character of its own (never as the
// second byte of a double-byte character).
bool HasBackslash(const char* pszName);

// The variables of a registry script: ordered (name, value) pairs of wide
// strings, looked up by ANSI name without regard to case.
#pragma once
#include "platform/win32_types.h"

class ReplacementMap {
public:
    ReplacementMap() = default;
    ~ReplacementMap() { Clear(); }
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;

    // Copies both strings; E_OUTOFMEMORY leaves the map as it was.
    HRESULT Add(const char16_t* pszName, const char16_t* pszValue);
    // The value of the first pair added whose name matches, or null.
    const char16_t* Find(const char* pszName) const;
    void Clear();
    long Count() const { return m_cPairs; }

private:
    struct ReplacementPair {
        char16_t* pszName;
        char16_t* pszValue;
    };
    ReplacementPair* m_pPairs = nullptr;  // module heap
    long m_cPairs = 0;
    long m_cRoom = 0;
};

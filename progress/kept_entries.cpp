#include "progress/kept_entries.h"

namespace {
bool SameKey(const char16_t* psz1, const char16_t* psz2) {
    for (; *psz1 == *psz2; ++psz1, ++psz2)
        if (*psz1 == u'\0') return true;
    return false;
}
}  // namespace

bool KeptEntries::Keep(const char16_t* pszKey, std::uintptr_t hEntry, std::uint32_t msNow,
                       std::uint32_t msRetention) {
    std::size_t cchKey = 0;
    while (pszKey[cchKey]) ++cchKey;
    if (msRetention == 0 || cchKey >= kcchProgressSectionName) {
        m_pfnRelease(hEntry);
        return false;
    }
    if (msRetention > kmsMaxRetention) msRetention = kmsMaxRetention;
    std::uint32_t i = 0;
    while (i < m_nEntries && !SameKey(Entries()[i].szKey, pszKey)) ++i;
    if (i < m_nEntries) {
        m_pfnRelease(Entries()[i].hEntry);
    } else if (!ReserveItems(m_block, &m_nCapacity, m_nEntries + 1ull, sizeof(Entry), 4)) {
        m_pfnRelease(hEntry);
        return false;
    } else {
        ++m_nEntries;
    }
    Entry& entry = Entries()[i];
    entry.hEntry = hEntry;
    entry.msKept = msNow;
    entry.msRetention = msRetention;
    for (std::size_t c = 0; c <= cchKey; ++c) entry.szKey[c] = pszKey[c];
    return true;
}

void KeptEntries::Sweep(std::uint32_t msNow) {
    for (std::uint32_t i = m_nEntries; i-- > 0;) {
        const Entry& entry = Entries()[i];
        if (static_cast<std::uint32_t>(msNow - entry.msKept) >= entry.msRetention) Remove(i);
    }
    if (m_nEntries == 0) {
        m_block.reset();
        m_nCapacity = 0;
    }
}

void KeptEntries::ReleaseAll() {
    while (m_nEntries > 0) Remove(m_nEntries - 1);
    m_block.reset();
    m_nCapacity = 0;
}

void KeptEntries::Remove(std::uint32_t i) {
    Entry* pEntries = Entries();
    m_pfnRelease(pEntries[i].hEntry);
    pEntries[i] = pEntries[--m_nEntries];
}

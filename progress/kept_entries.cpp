#include "progress/kept_entries.h"

namespace {
bool SameKey(const char16_t* psz1, const char16_t* psz2) {
    for (; *psz1 == *psz2; ++psz1, ++psz2)
        if (*psz1 == u'\0') return true;
    return false;
}

// FNV-1a over the units, then mixed so that the low bits the table uses
// depend on every unit. Ids are the pages' choice, so keys that share a slot
// can be made on purpose; the cap bounds how far such a probe goes.
std::uint32_t KeyHash(const char16_t* psz, std::size_t* pcch) {
    std::uint32_t n = 2166136261u;
    std::size_t cch = 0;
    for (; psz[cch]; ++cch) n = (n ^ psz[cch]) * 16777619u;
    *pcch = cch;
    n ^= n >> 16;
    n *= 0x85EBCA6Bu;
    n ^= n >> 13;
    n *= 0xC2B2AE35u;
    return n ^ (n >> 16);
}
}  // namespace

bool KeptEntries::Keep(const char16_t* pszKey, std::uintptr_t hEntry, std::uint32_t msNow,
                       std::uint32_t msRetention) {
    std::size_t cchKey = 0;
    const std::uint32_t nHash = KeyHash(pszKey, &cchKey);
    if (msRetention == 0 || cchKey >= kcchProgressSectionName) {
        m_pfnRelease(hEntry);
        return false;
    }
    if (msRetention > kmsMaxRetention) msRetention = kmsMaxRetention;
    std::uint32_t i = Find(pszKey, nHash);
    if (i != kNone) {
        m_pfnRelease(Entries()[i].hEntry);
        Unlink(i);
    } else {
        if (m_nEntries >= m_nMaxEntries) Remove(m_iFirst);
        if (m_iFree == kNone && !Grow()) {
            m_pfnRelease(hEntry);
            return false;
        }
        i = m_iFree;
        Entry& entry = Entries()[i];
        m_iFree = entry.iNext;
        entry.nHash = nHash;
        for (std::size_t c = 0; c <= cchKey; ++c) entry.szKey[c] = pszKey[c];
        Index(i);
        ++m_nEntries;
    }
    Entry& entry = Entries()[i];
    entry.hEntry = hEntry;
    entry.msKept = msNow;
    entry.msRetention = msRetention;
    Link(i, msNow);
    return true;
}

// The entries end in the order they are linked: those whose time has passed
// are all at the front.
void KeptEntries::Sweep(std::uint32_t msNow) {
    while (m_iFirst != kNone) {
        const Entry& first = Entries()[m_iFirst];
        if (static_cast<std::uint32_t>(msNow - first.msKept) < first.msRetention) break;
        Remove(m_iFirst);
    }
    if (m_nEntries == 0) ReleaseAll();
}

void KeptEntries::ReleaseAll() {
    while (m_iFirst != kNone) Remove(m_iFirst);
    m_entries.reset();
    m_slots.reset();
    m_nCapacity = m_nSlots = 0;
    m_iFree = kNone;
}

std::uint32_t KeptEntries::Find(const char16_t* pszKey, std::uint32_t nHash) const {
    if (m_nSlots == 0) return kNone;
    const std::uint32_t nMask = m_nSlots - 1;
    for (std::uint32_t s = nHash & nMask; Slots()[s] != 0; s = (s + 1) & nMask) {
        const std::uint32_t i = Slots()[s] - 1;
        if (Entries()[i].nHash == nHash && SameKey(Entries()[i].szKey, pszKey)) return i;
    }
    return kNone;
}

// Room for more entries (twice as many, up to the cap) and a table twice
// their number, rebuilt. Called with no free entry left, below the cap;
// either both blocks grow or neither changes.
bool KeptEntries::Grow() {
    std::uint32_t nNew = m_nCapacity < 2 ? 4 : 2 * m_nCapacity;
    if (nNew > m_nMaxEntries || nNew < m_nCapacity) nNew = m_nMaxEntries;
    std::uint32_t nSlots = 8;
    while (nSlots < 2ull * nNew && nSlots < 0x80000000u) nSlots *= 2;
    if (nSlots < 2ull * nNew || nNew > SIZE_MAX / sizeof(Entry) || nSlots > SIZE_MAX / sizeof(std::uint32_t))
        return false;
    ModuleBlock slots(ModuleAlloc(static_cast<std::size_t>(nSlots) * sizeof(std::uint32_t)));
    if (!slots) return false;
    void* pvEntries = ModuleRealloc(m_entries.get(), static_cast<std::size_t>(nNew) * sizeof(Entry));
    if (!pvEntries) return false;
    m_entries.release();
    m_entries.reset(pvEntries);
    m_slots = static_cast<ModuleBlock&&>(slots);
    m_nSlots = nSlots;
    for (std::uint32_t s = 0; s < nSlots; ++s) Slots()[s] = 0;
    for (std::uint32_t i = m_iFirst; i != kNone; i = Entries()[i].iNext) Index(i);
    for (std::uint32_t i = nNew; i-- > m_nCapacity;) {
        Entries()[i].iNext = m_iFree;
        m_iFree = i;
    }
    m_nCapacity = nNew;
    return true;
}

void KeptEntries::Index(std::uint32_t iEntry) {
    const std::uint32_t nMask = m_nSlots - 1;
    std::uint32_t s = Entries()[iEntry].nHash & nMask;
    while (Slots()[s] != 0) s = (s + 1) & nMask;
    Slots()[s] = iEntry + 1;
}

// Takes the entry's slot out and moves later ones of the same run back into
// the gap, so that a probe never stops short of them.
void KeptEntries::Unindex(std::uint32_t iEntry) {
    const std::uint32_t nMask = m_nSlots - 1;
    std::uint32_t* pSlots = Slots();
    std::uint32_t sGap = Entries()[iEntry].nHash & nMask;
    while (pSlots[sGap] != iEntry + 1) sGap = (sGap + 1) & nMask;
    for (std::uint32_t s = (sGap + 1) & nMask; pSlots[s] != 0; s = (s + 1) & nMask) {
        const std::uint32_t sHome = Entries()[pSlots[s] - 1].nHash & nMask;
        // It may move back only when the gap lies between its home and it.
        if (((s - sHome) & nMask) >= ((s - sGap) & nMask)) {
            pSlots[sGap] = pSlots[s];
            sGap = s;
        }
    }
    pSlots[sGap] = 0;
}

// After every entry whose time ends no later than this one's.
void KeptEntries::Link(std::uint32_t iEntry, std::uint32_t msNow) {
    Entry* pEntries = Entries();
    const auto msLeft = [msNow](const Entry& entry) {
        const std::uint32_t msPassed = msNow - entry.msKept;
        return msPassed >= entry.msRetention ? 0u : entry.msRetention - msPassed;
    };
    const std::uint32_t msThis = msLeft(pEntries[iEntry]);
    std::uint32_t iBefore = m_iLast;
    while (iBefore != kNone && msLeft(pEntries[iBefore]) > msThis) iBefore = pEntries[iBefore].iPrev;
    const std::uint32_t iAfter = iBefore == kNone ? m_iFirst : pEntries[iBefore].iNext;
    pEntries[iEntry].iPrev = iBefore;
    pEntries[iEntry].iNext = iAfter;
    (iBefore == kNone ? m_iFirst : pEntries[iBefore].iNext) = iEntry;
    (iAfter == kNone ? m_iLast : pEntries[iAfter].iPrev) = iEntry;
}

void KeptEntries::Unlink(std::uint32_t iEntry) {
    Entry* pEntries = Entries();
    const std::uint32_t iPrev = pEntries[iEntry].iPrev, iNext = pEntries[iEntry].iNext;
    (iPrev == kNone ? m_iFirst : pEntries[iPrev].iNext) = iNext;
    (iNext == kNone ? m_iLast : pEntries[iNext].iPrev) = iPrev;
}

void KeptEntries::Remove(std::uint32_t iEntry) {
    m_pfnRelease(Entries()[iEntry].hEntry);
    Unindex(iEntry);
    Unlink(iEntry);
    Entries()[iEntry].iNext = m_iFree;
    m_iFree = iEntry;
    --m_nEntries;
}

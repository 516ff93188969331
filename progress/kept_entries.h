// The ended uploads' records a process keeps for a while: each entry holds
// something to release (a section handle on Windows) until its retention
// time has passed. Times are wrapping millisecond ticks (round every 49
// days); a retention is at most half of that, so an entry that a later call
// sweeps in time never looks new again.
// Pages choose the ids, so their number is capped: when full, the entry
// whose time ends first goes to make room (the oldest ended, since every
// record is kept equally long). Entries are found by name through a hash
// table and kept in the order their times end, so neither finding one nor
// sweeping the ended ones walks the others.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/module_heap.h"
#include "progress/progress_id.h"

constexpr std::uint32_t kmsMaxRetention = 0x7FFFFFFFu;
// Each kept record costs a handle and a page of the system's memory.
constexpr std::uint32_t kMaxKeptRecords = 1024;

class KeptEntries {
public:
    typedef void (*PFNRELEASE)(std::uintptr_t hEntry);

    // nMaxEntries: the cap (at least 1).
    explicit KeptEntries(PFNRELEASE pfnRelease, std::uint32_t nMaxEntries = kMaxKeptRecords)
        : m_pfnRelease(pfnRelease), m_nMaxEntries(nMaxEntries ? nMaxEntries : 1) {}
    ~KeptEntries() { ReleaseAll(); }
    KeptEntries(const KeptEntries&) = delete;
    KeptEntries& operator=(const KeptEntries&) = delete;

    // Keeps hEntry under pszKey (a section name) for msRetention from
    // msNow; an entry of the same key is released and replaced, and at the
    // cap the entry whose time ends first is released. Without room (or
    // with no retention) hEntry is released at once: false.
    bool Keep(const char16_t* pszKey, std::uintptr_t hEntry, std::uint32_t msNow, std::uint32_t msRetention);
    // Releases the entries whose time has passed.
    void Sweep(std::uint32_t msNow);
    void ReleaseAll();
    std::uint32_t Count() const { return m_nEntries; }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    struct Entry {
        std::uintptr_t hEntry;
        std::uint32_t msKept;
        std::uint32_t msRetention;
        std::uint32_t nHash;
        // Neighbours in the order the entries' times end; a free entry's
        // iNext chains the free ones.
        std::uint32_t iPrev, iNext;
        char16_t szKey[kcchProgressSectionName];
    };
    Entry* Entries() const { return m_entries.as<Entry>(); }
    std::uint32_t* Slots() const { return m_slots.as<std::uint32_t>(); }

    std::uint32_t Find(const char16_t* pszKey, std::uint32_t nHash) const;
    bool Grow();
    void Index(std::uint32_t iEntry);
    void Unindex(std::uint32_t iEntry);
    void Link(std::uint32_t iEntry, std::uint32_t msNow);
    void Unlink(std::uint32_t iEntry);
    void Remove(std::uint32_t iEntry);

    PFNRELEASE m_pfnRelease;
    std::uint32_t m_nMaxEntries;
    // Entries never move: the slots and the links hold their indices.
    ModuleBlock m_entries;
    std::uint32_t m_nCapacity = 0, m_nEntries = 0, m_iFree = kNone;
    // Open addressing with linear probing; a slot holds an entry's index + 1
    // (0: empty), and there are at least twice as many slots as entries.
    ModuleBlock m_slots;
    std::uint32_t m_nSlots = 0;
    std::uint32_t m_iFirst = kNone, m_iLast = kNone;  // the first to end, the last
};

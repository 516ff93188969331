// The ended uploads' records a process keeps for a while: each entry holds
// something to release (a section handle on Windows) until its retention
// time has passed. Times are wrapping millisecond ticks (round every 49
// days); a retention is at most half of that, so an entry that a later call
// sweeps in time never looks new again.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/module_heap.h"
#include "progress/progress_id.h"

constexpr std::uint32_t kmsMaxRetention = 0x7FFFFFFFu;

class KeptEntries {
public:
    typedef void (*PFNRELEASE)(std::uintptr_t hEntry);

    explicit KeptEntries(PFNRELEASE pfnRelease) : m_pfnRelease(pfnRelease) {}
    ~KeptEntries() { ReleaseAll(); }
    KeptEntries(const KeptEntries&) = delete;
    KeptEntries& operator=(const KeptEntries&) = delete;

    // Keeps hEntry under pszKey (a section name) for msRetention from
    // msNow; an entry of the same key is released and replaced. Without
    // room (or with no retention) hEntry is released at once: false.
    bool Keep(const char16_t* pszKey, std::uintptr_t hEntry, std::uint32_t msNow, std::uint32_t msRetention);
    // Releases the entries whose time has passed.
    void Sweep(std::uint32_t msNow);
    void ReleaseAll();
    std::uint32_t Count() const { return m_nEntries; }

private:
    struct Entry {
        std::uintptr_t hEntry;
        std::uint32_t msKept;
        std::uint32_t msRetention;
        char16_t szKey[kcchProgressSectionName];
    };
    Entry* Entries() const { return m_block.as<Entry>(); }
    void Remove(std::uint32_t i);

    PFNRELEASE m_pfnRelease;
    ModuleBlock m_block;
    std::uint32_t m_nEntries = 0, m_nCapacity = 0;
};

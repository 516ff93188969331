// The parts' names of a loaded form, read in one code page, with a hash of
// their case-folded spellings: each lookup and the list of distinct names
// cost time in proportion to the parts they concern, not to the form.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "upload/loaded_form.h"

class NameIndex {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    NameIndex() = default;
    ~NameIndex() { Clear(); }
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;

    // Reads every part's name; false without memory (the index is then empty).
    bool Build(const LoadedForm& form, UINT uCodePage);
    void Clear();
    bool Built() const { return m_pNames != nullptr; }

    // The name as the part spells it.
    BSTR Name(std::uint32_t iPart) const { return m_pNames[iPart]; }
    // The first part named bstrName without regard to case, then the next
    // part of the same name, or kNone.
    std::uint32_t First(BSTR bstrName) const;
    std::uint32_t Next(std::uint32_t iPart) const { return m_pNext[iPart]; }
    // True for the first part of each distinct name.
    bool IsFirstOfName(std::uint32_t iPart) const { return m_pFirst[iPart] != 0; }

private:
    std::uint32_t m_cParts = 0;
    BSTR* m_pNames = nullptr;        // as spelled
    BSTR* m_pKeys = nullptr;         // case-folded
    std::uint32_t* m_pNext = nullptr;
    unsigned char* m_pFirst = nullptr;
    std::uint32_t* m_pSlots = nullptr;  // open addressing: first part of a key
    std::uint32_t m_cSlots = 0;
};

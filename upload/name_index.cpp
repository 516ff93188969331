#include "upload/name_index.h"

#include <cstring>

#include "platform/module_heap.h"
#include "platform/win32_owners.h"
#include "upload/part_text.h"

namespace {
// The spelling names are compared in: upper case by the system's rules.
BSTR FoldCase(const wchar_t* pszName, UINT cch) {
    BSTR bstrKey = SysAllocStringLen(pszName, cch);
    if (bstrKey && cch) CharUpperBuffW(bstrKey, cch);
    return bstrKey;
}

std::uint32_t Hash(BSTR bstrKey) {
    std::uint32_t h = 2166136261u;
    for (UINT i = 0, cch = SysStringLen(bstrKey); i < cch; ++i) h = (h ^ bstrKey[i]) * 16777619u;
    return h;
}

bool SameKey(BSTR a, BSTR b) {
    const UINT cch = SysStringLen(a);
    return cch == SysStringLen(b) && std::memcmp(a, b, cch * sizeof(wchar_t)) == 0;
}

template <class T>
T* AllocArray(std::uint32_t c) {
    return static_cast<T*>(ModuleAlloc(sizeof(T) * (c ? c : 1)));
}
}  // namespace

bool NameIndex::Build(const LoadedForm& form, UINT uCodePage) {
    Clear();
    const std::uint32_t cParts = form.Parts().Count();
    m_cSlots = 16;
    while (m_cSlots < 2 * cParts) m_cSlots *= 2;
    m_pNames = AllocArray<BSTR>(cParts);
    m_pKeys = AllocArray<BSTR>(cParts);
    m_pNext = AllocArray<std::uint32_t>(cParts);
    m_pFirst = AllocArray<unsigned char>(cParts);
    m_pSlots = AllocArray<std::uint32_t>(m_cSlots);
    if (!m_pNames || !m_pKeys || !m_pNext || !m_pFirst || !m_pSlots) {
        Clear();
        return false;
    }
    for (std::uint32_t i = 0; i < m_cSlots; ++i) m_pSlots[i] = kNone;
    // The last part of each name seen so far, to chain the next one on.
    ModuleBlock lastBlock(ModuleAlloc(sizeof(std::uint32_t) * m_cSlots));
    if (!lastBlock) {
        Clear();
        return false;
    }
    std::uint32_t* pLast = lastBlock.as<std::uint32_t>();
    for (std::uint32_t i = 0; i < cParts; ++i) {
        m_pNames[i] = form.FieldName(i, uCodePage);
        m_pKeys[i] = m_pNames[i] ? FoldCase(m_pNames[i], SysStringLen(m_pNames[i])) : nullptr;
        m_cParts = i + 1;  // what Clear frees
        if (!m_pKeys[i]) {
            Clear();
            return false;
        }
        m_pNext[i] = kNone;
        std::uint32_t slot = Hash(m_pKeys[i]) & (m_cSlots - 1);
        while (m_pSlots[slot] != kNone && !SameKey(m_pKeys[m_pSlots[slot]], m_pKeys[i])) slot = (slot + 1) & (m_cSlots - 1);
        m_pFirst[i] = m_pSlots[slot] == kNone;
        if (m_pFirst[i]) {
            m_pSlots[slot] = i;
        } else {
            m_pNext[pLast[slot]] = i;
        }
        pLast[slot] = i;
    }
    return true;
}

void NameIndex::Clear() {
    for (std::uint32_t i = 0; i < m_cParts; ++i) {
        if (m_pNames) SysFreeString(m_pNames[i]);
        if (m_pKeys) SysFreeString(m_pKeys[i]);
    }
    ModuleFree(m_pNames);
    ModuleFree(m_pKeys);
    ModuleFree(m_pNext);
    ModuleFree(m_pFirst);
    ModuleFree(m_pSlots);
    m_pNames = m_pKeys = nullptr;
    m_pNext = m_pSlots = nullptr;
    m_pFirst = nullptr;
    m_cParts = m_cSlots = 0;
}

std::uint32_t NameIndex::First(BSTR bstrName) const {
    UniqueBstr key(FoldCase(bstrName, SysStringLen(bstrName)));
    if (!key || !m_pSlots) return kNone;
    std::uint32_t slot = Hash(key.get()) & (m_cSlots - 1);
    while (m_pSlots[slot] != kNone) {
        if (SameKey(m_pKeys[m_pSlots[slot]], key.get())) return m_pSlots[slot];
        slot = (slot + 1) & (m_cSlots - 1);
    }
    return kNone;
}

#include "registration/replacement_map.h"

#include "platform/task_memory.h"
#include "platform/module_heap.h"
#include "platform/text_services.h"

#include <cstring>

namespace {
constexpr long kInitialRoom = 10;

std::size_t WideLength(const char16_t* psz) {
    std::size_t cch = 0;
    while (psz[cch]) ++cch;
    return cch;
}

char16_t* CopyWide(const char16_t* psz) {
    std::size_t cb = (WideLength(psz) + 1) * sizeof(char16_t);
    auto pszCopy = static_cast<char16_t*>(TaskMemAlloc(cb));
    if (pszCopy) std::memcpy(pszCopy, psz, cb);
    return pszCopy;
}

// True when the wide name, in the ANSI code page, equals pszAnsi without
// regard to case.
bool NameMatches(const char16_t* pszWide, const char* pszAnsi) {
    char szSmall[64];
    int cbNeeded = TextWideToAnsi(pszWide, nullptr, 0);
    if (cbNeeded <= 0) return false;
    ModuleBlock large;
    char* pszName = szSmall;
    if (cbNeeded > static_cast<int>(sizeof szSmall)) {
        large.reset(ModuleAlloc(static_cast<std::size_t>(cbNeeded)));
        if (!large) return false;
        pszName = large.as<char>();
    }
    if (TextWideToAnsi(pszWide, pszName, cbNeeded) == 0) return false;
    return TextCompareNoCase(pszName, pszAnsi) == 0;
}
}  // namespace

HRESULT ReplacementMap::Add(const char16_t* pszName, const char16_t* pszValue) {
    if (!pszName || !pszValue) return E_POINTER;
    if (m_cPairs == m_cRoom) {
        long cNewRoom = m_cRoom ? m_cRoom * 2 : kInitialRoom;
        void* pv = ModuleRealloc(m_pPairs, static_cast<std::size_t>(cNewRoom) * sizeof(ReplacementPair));
        if (!pv) return E_OUTOFMEMORY;
        m_pPairs = static_cast<ReplacementPair*>(pv);
        m_cRoom = cNewRoom;
    }
    TaskMemBlock name(CopyWide(pszName));
    TaskMemBlock value(name ? CopyWide(pszValue) : nullptr);
    if (!name || !value) return E_OUTOFMEMORY;
    m_pPairs[m_cPairs].pszName = static_cast<char16_t*>(name.release());
    m_pPairs[m_cPairs].pszValue = static_cast<char16_t*>(value.release());
    ++m_cPairs;
    return S_OK;
}

const char16_t* ReplacementMap::Find(const char* pszName) const {
    for (long i = 0; i < m_cPairs; ++i)
        if (NameMatches(m_pPairs[i].pszName, pszName)) return m_pPairs[i].pszValue;
    return nullptr;
}

void ReplacementMap::Clear() {
    for (long i = 0; i < m_cPairs; ++i) {
        TaskMemFree(m_pPairs[i].pszName);
        TaskMemFree(m_pPairs[i].pszValue);
    }
    ModuleFree(m_pPairs);
    m_pPairs = nullptr;
    m_cPairs = 0;
    m_cRoom = 0;
}

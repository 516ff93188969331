#include "registration/script_expand.h"

#include "registration/replacement_map.h"
#include "platform/hresult_checks.h"
#include "platform/task_memory.h"
#include "platform/module_heap.h"
#include "platform/text_services.h"

#include <cstring>

namespace {
// The expanded text as it grows: room doubles whenever it is full.
class ExpansionBuffer {
public:
    explicit ExpansionBuffer(std::size_t cbScript) {
        if (cbScript > kMaxRoom / 2) return;
        m_cbRoom = cbScript ? cbScript * 2 : 1;  // an empty text still needs its terminator
        m_block.reset(TaskMemAlloc(m_cbRoom));
    }
    explicit operator bool() const { return static_cast<bool>(m_block); }

    bool Append(const char* pb, std::size_t cb) {
        for (std::size_t i = 0; i < cb; ++i) {
            if (m_cbUsed == m_cbRoom && !Grow()) return false;
            m_block.as<char>()[m_cbUsed++] = pb[i];
        }
        return true;
    }
    char* Release() { return static_cast<char*>(m_block.release()); }

private:
    static constexpr std::size_t kMaxRoom = static_cast<std::size_t>(-1) / 2;

    bool Grow() {
        if (m_cbRoom > kMaxRoom) return false;
        void* pv = TaskMemRealloc(m_block.as<void>(), m_cbRoom * 2);
        if (!pv) return false;  // the old block stays owned and is freed
        m_block.release();
        m_block.reset(pv);
        m_cbRoom *= 2;
        return true;
    }

    TaskMemBlock m_block;
    std::size_t m_cbRoom = 0;
    std::size_t m_cbUsed = 0;
};

// Appends the value of the variable named pszName.
HRESULT AppendVariable(ExpansionBuffer& buffer, const char* pszName, const ReplacementMap& replacements) {
    const char16_t* pszValue = replacements.Find(pszName);
    if (!pszValue) return DISP_E_EXCEPTION;
    int cbAnsi = TextWideToAnsi(pszValue, nullptr, 0);
    if (cbAnsi <= 0) return E_FAIL;
    ModuleBlock ansi(ModuleAlloc(static_cast<std::size_t>(cbAnsi)));
    if (!ansi) return E_OUTOFMEMORY;
    if (TextWideToAnsi(pszValue, ansi.as<char>(), cbAnsi) == 0) return E_FAIL;
    return buffer.Append(ansi.as<char>(), std::strlen(ansi.as<char>())) ? S_OK : E_OUTOFMEMORY;
}
}  // namespace

HRESULT ExpandVariables(const char* pszScript, const ReplacementMap& replacements, char** ppszExpanded) {
    *ppszExpanded = nullptr;
    ExpansionBuffer buffer(std::strlen(pszScript));
    if (!buffer) return E_OUTOFMEMORY;

    const char* p = pszScript;
    while (*p) {
        if (*p != '%') {
            const char* pNext = TextCharNext(p);
            if (!buffer.Append(p, static_cast<std::size_t>(pNext - p))) return E_OUTOFMEMORY;
            p = pNext;
            continue;
        }
        if (p[1] == '%') {
            if (!buffer.Append("%", 1)) return E_OUTOFMEMORY;
            p += 2;
            continue;
        }
        const char* pszNameStart = p + 1;
        const char* q = pszNameStart;
        while (*q != '%') {
            if (!*q) return DISP_E_EXCEPTION;
            const char* pNext = TextCharNext(q);
            if (pNext - pszNameStart > kMaxVariableName) return E_FAIL;
            q = pNext;
        }
        char szName[kMaxVariableName + 1];
        std::size_t cbName = static_cast<std::size_t>(q - pszNameStart);
        std::memcpy(szName, pszNameStart, cbName);
        szName[cbName] = '\0';
        RETURN_IF_FAILED(AppendVariable(buffer, szName, replacements));
        p = q + 1;
    }
    if (!buffer.Append("", 1)) return E_OUTOFMEMORY;
    *ppszExpanded = buffer.Release();
    return S_OK;
}

#include "upload/part_facts.h"

#include <cstring>
#include <utility>

#include "filefacts/file_facts.h"
#include "upload/loaded_form.h"

namespace {
bool IsListSeparator(wchar_t ch) { return ch == L' ' || ch == L'\t' || ch == L',' || ch == L';'; }

wchar_t AsciiLower(wchar_t ch) { return ch >= L'A' && ch <= L'Z' ? static_cast<wchar_t>(ch + 32) : ch; }

// A file with a name: an untouched file input sends an empty one and no bytes.
bool IsNamedFile(const FormPart& part) { return (part.flags & kPartHasFileName) && part.fileNameLength > 0; }
}  // namespace

bool TypeAllowed(const wchar_t* pszAllowed, const char* pszType) {
    if (!pszAllowed) return true;
    bool bAnyType = false;
    for (const wchar_t* pch = pszAllowed; *pch;) {
        while (*pch && IsListSeparator(*pch)) ++pch;
        const wchar_t* pchStart = pch;
        while (*pch && !IsListSeparator(*pch)) ++pch;
        if (pch == pchStart) continue;
        bAnyType = true;
        std::size_t i = 0;
        const std::size_t cch = static_cast<std::size_t>(pch - pchStart);
        while (i < cch && pszType[i] && AsciiLower(pchStart[i]) == static_cast<unsigned char>(pszType[i])) ++i;
        if (i == cch && pszType[i] == '\0' && cch > 0) return true;
    }
    return !bAnyType;
}

bool FactsSink::Fail(Stop stop, DWORD dwError) {
    m_stop = stop;
    m_dwError = dwError;
    return false;
}

bool FactsSink::PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) {
    if (!ReserveItems(m_facts, &m_nFactsCapacity, iPart + 1ull, sizeof(KnownFacts), 16)) return Fail(Stop::kNoMemory);
    std::memset(m_facts.as<KnownFacts>() + iPart, 0, sizeof(KnownFacts));
    m_facts.as<KnownFacts>()[iPart].pszDetectedType = "";
    m_iPart = iPart;
    m_bFile = IsNamedFile(part);
    m_cbHead = 0;
    if (m_bFile) {
        if (!m_head && !(m_head = ModuleBlock(ModuleAlloc(filefacts::kcbFactsHead)))) return Fail(Stop::kNoMemory);
        if (m_pszAllowed && m_pszAllowed[0]) {
            // Kept for the message, should the type be refused.
            m_name.reset(ModuleAlloc(part.fileNameLength ? part.fileNameLength : 1));
            if (!m_name) return Fail(Stop::kNoMemory);
            std::memcpy(m_name.get(), pbText + part.fileNameOffset, part.fileNameLength);
            m_cbName = part.fileNameLength;
            m_nameFlags = part.flags;
        }
        if (m_hashWhileLoading != HashAlgorithm::kNone) {
            const DWORD dwError = m_hash.Begin(m_hashWhileLoading);
            if (dwError != ERROR_SUCCESS) return Fail(Stop::kHashFailed, dwError);
        }
    }
    return m_pNext->PartBegins(iPart, part, pbText);
}

bool FactsSink::PartData(const unsigned char* pb, std::uint32_t cb) {
    if (m_bFile) {
        if (m_cbHead < filefacts::kcbFactsHead) {
            const std::size_t cbTake = filefacts::kcbFactsHead - m_cbHead < cb ? filefacts::kcbFactsHead - m_cbHead : cb;
            std::memcpy(m_head.as<unsigned char>() + m_cbHead, pb, cbTake);
            m_cbHead += cbTake;
        }
        if (m_hash.Active()) {
            const DWORD dwError = m_hash.Data(pb, cb);
            if (dwError != ERROR_SUCCESS) return Fail(Stop::kHashFailed, dwError);
        }
    }
    return m_pNext->PartData(pb, cb);
}

bool FactsSink::PartEnds() {
    if (m_bFile) {
        KnownFacts& facts = m_facts.as<KnownFacts>()[m_iPart];
        ReadHeadFacts(m_head.as<unsigned char>(), m_cbHead, &facts);
        if (m_hash.Active()) {
            unsigned char abDigest[kcbMaxDigest];
            const DWORD dwError = m_hash.Finish(abDigest);
            if (dwError != ERROR_SUCCESS) return Fail(Stop::kHashFailed, dwError);
            facts.Keep(m_hashWhileLoading, abDigest);
        }
        if (!TypeAllowed(m_pszAllowed, facts.pszDetectedType)) {
            m_refusedName = std::move(m_name);
            m_cbRefusedName = m_cbName;
            m_refusedFlags = m_nameFlags;
            m_pszRefusedType = facts.pszDetectedType;
            return Fail(Stop::kTypeRefused);
        }
    }
    return m_pNext->PartEnds();
}

void FactsSink::PartDropped() { m_pNext->PartDropped(); }

namespace {
DWORD HashBytes(ContentHash& hash, HashAlgorithm algorithm, const unsigned char* pb, std::uint64_t cb,
                unsigned char (&abDigest)[kcbMaxDigest]) {
    DWORD dwError = hash.Begin(algorithm);
    if (dwError == ERROR_SUCCESS) dwError = hash.Data(pb, static_cast<std::size_t>(cb));
    return dwError == ERROR_SUCCESS ? hash.Finish(abDigest) : dwError;
}
}  // namespace

DWORD ReadFormFacts(const LoadedForm& form, HashAlgorithm hashWhileLoading, const wchar_t* pszAllowedTypes,
                    ModuleBlock* pFacts, std::uint32_t* piRefused) {
    *piRefused = UINT32_MAX;
    const FormParts& parts = form.Parts();
    ModuleBlock table = NewFactsTable(parts.Count());
    if (!table) return ERROR_NOT_ENOUGH_MEMORY;
    ContentHash hash;
    for (std::uint32_t i = 0; i < parts.Count(); ++i) {
        KnownFacts& facts = table.as<KnownFacts>()[i];
        facts.pszDetectedType = "";
        const FormPart& part = parts.Part(i);
        if (!IsNamedFile(part)) continue;
        const unsigned char* pb = form.Value(part);
        ReadHeadFacts(pb, part.valueLength < filefacts::kcbFactsHead ? part.valueLength : filefacts::kcbFactsHead,
                      &facts);
        if (hashWhileLoading != HashAlgorithm::kNone) {
            unsigned char abDigest[kcbMaxDigest];
            const DWORD dwError = HashBytes(hash, hashWhileLoading, pb, part.valueLength, abDigest);
            if (dwError != ERROR_SUCCESS) return dwError;
            facts.Keep(hashWhileLoading, abDigest);
        }
        if (!TypeAllowed(pszAllowedTypes, facts.pszDetectedType)) {
            *piRefused = i;
            break;
        }
    }
    *pFacts = std::move(table);
    return ERROR_SUCCESS;
}

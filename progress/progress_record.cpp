#include "progress/progress_record.h"

#include <cstring>

namespace {
constexpr std::size_t kcwRecord = sizeof(ProgressRecord) / 4;
constexpr std::size_t kiSequence = offsetof(ProgressRecord, nSequence) / 4;
constexpr std::size_t kiOwner = offsetof(ProgressRecord, nOwner) / 4;
constexpr std::size_t kiCounts = offsetof(ProgressRecord, nState) / 4;
constexpr std::size_t kiTexts = offsetof(ProgressRecord, szField) / 4;
static_assert(kiSequence == 2 && kiOwner == 3 && kiCounts == 4, "the control words sit between tag and counts");
static_assert(offsetof(ProgressRecord, szField) % 4 == 0, "the texts start on a word");

// Words move between the private record and the shared one through memcpy on
// the private side (any type may be copied as bytes) and relaxed atomics on
// the shared side (the other side of the race).
void StoreWords(ProgressShared* pShared, const ProgressRecord& rec, std::size_t iFirst, std::size_t iEnd) {
    const unsigned char* pb = reinterpret_cast<const unsigned char*>(&rec);
    for (std::size_t i = iFirst; i < iEnd; ++i) {
        std::uint32_t w;
        std::memcpy(&w, pb + 4 * i, 4);
        __atomic_store_n(&pShared->aw[i], w, __ATOMIC_RELAXED);
    }
}

// The words that hold a text's units and its terminator (with a neighbour's
// unit at either end, whose private copy is as current).
void StoreText(ProgressShared* pShared, const ProgressRecord& rec, std::size_t cbOffset, std::uint16_t cchText,
               std::uint32_t cchCapacity) {
    const std::uint32_t cch = cchText < cchCapacity ? cchText : cchCapacity;
    StoreWords(pShared, rec, cbOffset / 4, (cbOffset + 2 * (cch + 1u) + 3) / 4);
}

void LoadWords(const ProgressShared* pShared, ProgressRecord* pCopy) {
    unsigned char* pb = reinterpret_cast<unsigned char*>(pCopy);
    for (std::size_t i = 0; i < kcwRecord; ++i) {
        const std::uint32_t w = __atomic_load_n(&pShared->aw[i], __ATOMIC_RELAXED);
        std::memcpy(pb + 4 * i, &w, 4);
    }
}

void EndText(char16_t* psz, std::uint16_t* pcch, std::uint32_t cchCapacity) {
    if (*pcch > cchCapacity) *pcch = static_cast<std::uint16_t>(cchCapacity);
    psz[*pcch] = u'\0';
}

bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
}  // namespace

bool ClaimRecord(ProgressShared* pShared, std::uint32_t nOwner) {
    std::uint32_t nFree = 0;
    return __atomic_compare_exchange_n(&pShared->aw[kiOwner], &nFree, nOwner, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_ACQUIRE);
}

void ReleaseRecord(ProgressShared* pShared) { __atomic_store_n(&pShared->aw[kiOwner], 0u, __ATOMIC_RELEASE); }

void PublishRecord(ProgressShared* pShared, const ProgressRecord& rec, bool bTexts) {
    // Odd whatever the counter held: a writer that died mid-update left it odd.
    const std::uint32_t nOdd = (__atomic_load_n(&pShared->aw[kiSequence], __ATOMIC_RELAXED) + 1) | 1u;
    __atomic_store_n(&pShared->aw[kiSequence], nOdd, __ATOMIC_RELAXED);
    __atomic_thread_fence(__ATOMIC_RELEASE);
    StoreWords(pShared, rec, 0, kiSequence);
    StoreWords(pShared, rec, kiCounts, kiTexts);
    if (bTexts) {
        // Each text up to its terminator; what lies beyond is never read.
        StoreText(pShared, rec, offsetof(ProgressRecord, szField), rec.cchField, kcchProgressField);
        StoreText(pShared, rec, offsetof(ProgressRecord, szFile), rec.cchFile, kcchProgressFile);
        StoreText(pShared, rec, offsetof(ProgressRecord, szMessage), rec.cchMessage, kcchProgressMessage);
    }
    __atomic_store_n(&pShared->aw[kiSequence], nOdd + 1, __ATOMIC_RELEASE);
}

SnapshotStatus SnapshotRecord(const ProgressShared* pShared, ProgressRecord* pCopy, int nTries,
                              void (*pfnWait)(int nAttempt)) {
    for (int iAttempt = 0; iAttempt < nTries; ++iAttempt) {
        if (iAttempt > 0 && pfnWait) pfnWait(iAttempt);
        const std::uint32_t nBefore = __atomic_load_n(&pShared->aw[kiSequence], __ATOMIC_ACQUIRE);
        if (nBefore & 1u) continue;
        LoadWords(pShared, pCopy);
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
        if (__atomic_load_n(&pShared->aw[kiSequence], __ATOMIC_RELAXED) != nBefore) continue;
        if (pCopy->nMagic != kProgressMagic || pCopy->cbRecord != sizeof(ProgressRecord) ||
            pCopy->nState < static_cast<std::uint32_t>(ProgressState::kReading) ||
            pCopy->nState > static_cast<std::uint32_t>(ProgressState::kFailed))
            return SnapshotStatus::kForeign;
        EndText(pCopy->szField, &pCopy->cchField, kcchProgressField);
        EndText(pCopy->szFile, &pCopy->cchFile, kcchProgressFile);
        EndText(pCopy->szMessage, &pCopy->cchMessage, kcchProgressMessage);
        return SnapshotStatus::kOk;
    }
    return SnapshotStatus::kBusy;
}

std::uint16_t CopyProgressText(char16_t* pszTarget, std::uint32_t cchCapacity, const char16_t* pchSource,
                               std::size_t cchSource) {
    std::size_t cch = pchSource ? cchSource : 0;
    if (cch > cchCapacity) {
        cch = cchCapacity;
        if (cch > 0 && IsHighSurrogate(pchSource[cch - 1])) --cch;  // its low half did not fit
    }
    for (std::size_t i = 0; i < cch; ++i) pszTarget[i] = pchSource[i];
    pszTarget[cch] = u'\0';
    return static_cast<std::uint16_t>(cch);
}

const char16_t* ProgressStateName(ProgressState state) {
    switch (state) {
    case ProgressState::kReading: return u"reading";
    case ProgressState::kDone: return u"done";
    case ProgressState::kRefused: return u"refused";
    case ProgressState::kFailed: return u"failed";
    case ProgressState::kUnknown: break;
    }
    return u"unknown";
}

// One upload's progress as every process sees it: a fixed-size record in a
// section shared between processes, 32- and 64-bit builds alike, written by
// one writer and read without a lock. The writer makes the sequence counter
// odd, writes, and makes it even again; a reader copies the record and keeps
// the copy only when the counter was even and unchanged around it.
#pragma once
#include <cstddef>
#include <cstdint>

enum class ProgressState : std::uint32_t { kUnknown = 0, kReading = 1, kDone = 2, kRefused = 3, kFailed = 4 };

// Text capacities in UTF-16 units, terminator not counted.
constexpr std::uint32_t kcchProgressField = 256;
constexpr std::uint32_t kcchProgressFile = 260;
constexpr std::uint32_t kcchProgressMessage = 512;

// "VPR1": the layout's tag; a record without it (a section another program
// made under the name, or one not yet written) reads as unknown.
constexpr std::uint32_t kProgressMagic = 0x31525056u;

struct ProgressRecord {
    std::uint32_t nMagic;
    std::uint32_t cbRecord;
    std::uint32_t nSequence;  // control word: odd while the writer writes
    std::uint32_t nOwner;     // control word: the writing upload's claim, 0 once it ended
    std::uint32_t nState;     // ProgressState
    std::uint32_t nFilesDone;
    alignas(8) std::uint64_t cbRead;
    alignas(8) std::uint64_t cbTotal;  // 0: not known
    // FILETIME values: 100-ns ticks since 1601 (UTC).
    alignas(8) std::uint64_t ftStart;
    alignas(8) std::uint64_t ftUpdated;
    alignas(8) std::uint64_t ftEnded;  // 0 while reading
    std::uint16_t cchField, cchFile, cchMessage, wReserved;
    char16_t szField[kcchProgressField + 1];
    char16_t szFile[kcchProgressFile + 1];
    char16_t szMessage[kcchProgressMessage + 1];
    char16_t chPadding;
};

// The same bytes in both bitnesses, so a 32-bit and a 64-bit worker agree.
static_assert(offsetof(ProgressRecord, nSequence) == 8, "record layout");
static_assert(offsetof(ProgressRecord, cbRead) == 24, "record layout");
static_assert(offsetof(ProgressRecord, ftEnded) == 56, "record layout");
static_assert(offsetof(ProgressRecord, szField) == 72, "record layout");
static_assert(sizeof(ProgressRecord) == 2136, "record layout");
static_assert(sizeof(ProgressRecord) % 4 == 0, "the record is copied in 32-bit words");

// The record where it is shared: reached only as words, through atomic loads
// and stores, never as the struct itself.
struct ProgressShared {
    std::uint32_t aw[sizeof(ProgressRecord) / 4];
};

// Claims the record for one writer: false when another writer holds it.
// nOwner must not be 0.
bool ClaimRecord(ProgressShared* pShared, std::uint32_t nOwner);
void ReleaseRecord(ProgressShared* pShared);

// Writes rec (all but the control words) as one update; the text arrays only
// with bTexts, since they change far less often than the counts.
void PublishRecord(ProgressShared* pShared, const ProgressRecord& rec, bool bTexts);

enum class SnapshotStatus {
    kOk,
    kBusy,     // the writer was always mid-update (or died in one) within the tries
    kForeign,  // not a record of this layout (or not written yet)
};

// A consistent copy: at most nTries attempts, pfnWait(attempt) between them.
// The copy's text lengths are cut to the capacities and its texts end in a
// terminator, whatever the shared bytes held.
SnapshotStatus SnapshotRecord(const ProgressShared* pShared, ProgressRecord* pCopy, int nTries,
                              void (*pfnWait)(int nAttempt));

// Copies cchSource units into a text field of cchCapacity units (plus its
// terminator), cut at the capacity but never between the halves of a
// surrogate pair. Returns the units kept.
std::uint16_t CopyProgressText(char16_t* pszTarget, std::uint32_t cchCapacity, const char16_t* pchSource,
                               std::size_t cchSource);

// The name page scripts see for a state.
const char16_t* ProgressStateName(ProgressState state);

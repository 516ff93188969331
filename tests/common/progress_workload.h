// A writer's run in which every state it ever publishes can be told from a
// torn mix of two: step i names file i (its length and letters follow i),
// reads kcbStep more bytes and finishes that file. A reader that sees counts
// of one step beside texts of another, or counts going back, has read a
// record mid-update. Shared by the host tests (the record in memory) and the
// Windows tests (threads and processes through the named section).
#pragma once
#include <cstdint>
#include <string>

#include "progress/progress_record.h"

namespace workload {

// Above the 64 KB throttle, so every step is published; 64-bit counts
// after a few steps.
constexpr std::uint64_t kcbStep = 0x3FFF0000u;

inline std::u16string Number(std::uint32_t n) {
    const std::string str = std::to_string(n);
    return std::u16string(str.begin(), str.end());
}

inline std::u16string FieldName(std::uint32_t i) { return u"field-" + Number(i); }

inline std::u16string FileName(std::uint32_t i) {
    return Number(i) + u"-" + std::u16string(1 + i * 37 % 200, static_cast<char16_t>(u'a' + i % 26)) + u".bin";
}

// Writer: FileStarted(field, file), Advance(cb), FileDone() over u16strings.
template <class Writer>
void Step(Writer& writer, std::uint32_t i) {
    writer.FileStarted(FieldName(i), FileName(i));
    writer.Advance(kcbStep);
    writer.FileDone();
}

inline bool TextsOf(const ProgressRecord& rec, std::uint32_t i) {
    return std::u16string(rec.szField, rec.cchField) == FieldName(i) &&
           std::u16string(rec.szFile, rec.cchFile) == FileName(i);
}

// Whether rec is one of the states the steps pass through (from Start to
// the end); *pstrWhy says what was seen otherwise.
inline bool Consistent(const ProgressRecord& rec, std::string* pstrWhy) {
    const std::uint32_t j = rec.nFilesDone;
    const bool bFresh = j == 0 && rec.cbRead == 0 && rec.cchField == 0 && rec.cchFile == 0;
    const bool bInFile = TextsOf(rec, j) && (rec.cbRead == j * kcbStep || rec.cbRead == (j + 1) * kcbStep);
    const bool bAfterFile = j > 0 && TextsOf(rec, j - 1) && rec.cbRead == j * kcbStep;
    if (bFresh || bInFile || bAfterFile) return true;
    *pstrWhy = "files done " + std::to_string(j) + ", bytes " + std::to_string(rec.cbRead) + ", file of " +
               std::to_string(rec.cchFile) + " units, field of " + std::to_string(rec.cchField) + " units";
    return false;
}

// What one reader saw so far: counts never go back, an end never reads again.
struct Watch {
    std::uint64_t cbRead = 0;
    std::uint32_t nFilesDone = 0;
    bool bEnded = false;
    long nReading = 0;  // snapshots taken while the writer was reading
    long nMoves = 0;    // of those, the ones that differed from the one before

    bool See(const ProgressRecord& rec, std::string* pstrWhy) {
        if (!Consistent(rec, pstrWhy)) return false;
        const bool bEndedNow = rec.nState != static_cast<std::uint32_t>(ProgressState::kReading);
        if (rec.cbRead < cbRead || rec.nFilesDone < nFilesDone || (bEnded && !bEndedNow)) {
            *pstrWhy = "went back from " + std::to_string(cbRead) + " bytes, " + std::to_string(nFilesDone) +
                       " files to " + std::to_string(rec.cbRead) + ", " + std::to_string(rec.nFilesDone);
            return false;
        }
        if (!bEndedNow) {
            ++nReading;
            if (rec.cbRead != cbRead || rec.nFilesDone != nFilesDone) ++nMoves;
        }
        cbRead = rec.cbRead;
        nFilesDone = rec.nFilesDone;
        bEnded = bEndedNow;
        return true;
    }
};

}  // namespace workload

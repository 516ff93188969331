// The writer's side of one upload's record: counts kept privately and
// published to the shared record no more often than every 64 KB read or
// every 100 ms, whichever comes first; the end is always published.
#pragma once
#include <cstddef>
#include <cstdint>

#include "progress/progress_record.h"

struct ProgressClock {
    std::uint64_t (*pfnNow)();    // FILETIME ticks (UTC)
    std::uint32_t (*pfnTicks)();  // milliseconds, wrapping
};

constexpr std::uint64_t kcbProgressStep = 64u << 10;
constexpr std::uint32_t kmsProgressStep = 100;

// Whether a change is due for publishing.
struct ProgressThrottle {
    std::uint64_t cbPublished = 0;
    std::uint32_t msPublished = 0;

    bool Due(std::uint64_t cbRead, std::uint32_t msNow) const {
        return cbRead - cbPublished >= kcbProgressStep || static_cast<std::uint32_t>(msNow - msPublished) >= kmsProgressStep;
    }
    void Published(std::uint64_t cbRead, std::uint32_t msNow) {
        cbPublished = cbRead;
        msPublished = msNow;
    }
};

class ProgressTracker {
public:
    ProgressTracker() = default;
    ProgressTracker(const ProgressTracker&) = delete;
    ProgressTracker& operator=(const ProgressTracker&) = delete;

    // Starts a fresh record in pShared (already claimed) and publishes it as
    // reading. cbTotal 0: not known.
    void Start(ProgressShared* pShared, const ProgressClock& clock, std::uint64_t cbTotal);
    bool Started() const { return m_pShared != nullptr; }
    bool Ended() const { return m_bEnded; }

    void Advance(std::uint64_t cb);
    void FileStarted(const char16_t* pchField, std::size_t cchField, const char16_t* pchFile, std::size_t cchFile);
    void FileDone();
    // Publishes the end whatever the throttle says; later calls change nothing.
    void Finish(ProgressState state, const char16_t* pchMessage, std::size_t cchMessage);

    // Refused or failed before a byte of the body was read: an end nobody
    // need be shown later, since the page that sent it has its answer.
    bool EndedBeforeItsBody() const {
        return m_bEnded && m_record.nState != static_cast<std::uint32_t>(ProgressState::kDone) && m_record.cbRead == 0;
    }

    const ProgressRecord& Record() const { return m_record; }

private:
    void Changed();
    void Publish(std::uint32_t msNow);

    ProgressShared* m_pShared = nullptr;
    ProgressClock m_clock{};
    ProgressThrottle m_throttle;
    bool m_bTextsChanged = false;
    bool m_bEnded = false;
    ProgressRecord m_record{};
};

#include "progress/progress_tracker.h"

void ProgressTracker::Start(ProgressShared* pShared, const ProgressClock& clock, std::uint64_t cbTotal) {
    m_pShared = pShared;
    m_clock = clock;
    m_bEnded = false;
    m_record = ProgressRecord{};
    m_record.nMagic = kProgressMagic;
    m_record.cbRecord = sizeof(ProgressRecord);
    m_record.nState = static_cast<std::uint32_t>(ProgressState::kReading);
    m_record.cbTotal = cbTotal;
    m_record.ftStart = clock.pfnNow();
    m_bTextsChanged = true;  // a record taken over still holds its last upload's texts
    Publish(clock.pfnTicks());
}

void ProgressTracker::Advance(std::uint64_t cb) {
    if (!m_pShared || m_bEnded) return;
    m_record.cbRead = cb > UINT64_MAX - m_record.cbRead ? UINT64_MAX : m_record.cbRead + cb;
    Changed();
}

void ProgressTracker::FileStarted(const char16_t* pchField, std::size_t cchField, const char16_t* pchFile,
                                  std::size_t cchFile) {
    if (!m_pShared || m_bEnded) return;
    m_record.cchField = CopyProgressText(m_record.szField, kcchProgressField, pchField, cchField);
    m_record.cchFile = CopyProgressText(m_record.szFile, kcchProgressFile, pchFile, cchFile);
    m_bTextsChanged = true;
    Changed();
}

void ProgressTracker::FileDone() {
    if (!m_pShared || m_bEnded) return;
    ++m_record.nFilesDone;
    Changed();
}

void ProgressTracker::Finish(ProgressState state, const char16_t* pchMessage, std::size_t cchMessage) {
    if (!m_pShared || m_bEnded) return;
    m_bEnded = true;
    if (state != ProgressState::kDone && state != ProgressState::kRefused) state = ProgressState::kFailed;
    m_record.nState = static_cast<std::uint32_t>(state);
    m_record.cchMessage = CopyProgressText(m_record.szMessage, kcchProgressMessage, pchMessage, cchMessage);
    m_record.ftEnded = m_clock.pfnNow();
    m_bTextsChanged = true;
    Publish(m_clock.pfnTicks());
}

void ProgressTracker::Changed() {
    const std::uint32_t msNow = m_clock.pfnTicks();
    if (m_throttle.Due(m_record.cbRead, msNow)) Publish(msNow);
}

void ProgressTracker::Publish(std::uint32_t msNow) {
    m_record.ftUpdated = m_record.ftEnded ? m_record.ftEnded : m_clock.pfnNow();
    PublishRecord(m_pShared, m_record, m_bTextsChanged);
    m_bTextsChanged = false;
    m_throttle.Published(m_record.cbRead, msNow);
}

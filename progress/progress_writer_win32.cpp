#include "progress/progress_writer.h"

#include "progress/progress_keeper.h"
#include "progress/progress_section.h"
#include "progress/system_clock.h"

ProgressWriter::~ProgressWriter() { Finish(ProgressState::kFailed, nullptr, 0); }

ProgressWriter::Status ProgressWriter::Begin(const wchar_t* pchId, std::size_t cchId, std::uint64_t cbTotal) {
    if (m_tracker.Started()) return Status::kInUse;
    if (!ProgressSectionName(Utf16(pchId), cchId, m_szName)) return Status::kBadId;
    SweepEndedProgress();
    UniqueKernelHandle section;
    UniqueMappedView view;
    m_dwError = CreateProgressSection(m_szName, &section);
    if (m_dwError == ERROR_SUCCESS) m_dwError = MapProgressSection(section.get(), true, &view);
    if (m_dwError != ERROR_SUCCESS) return m_dwError == ERROR_ACCESS_DENIED ? Status::kDenied : Status::kFailed;
    ProgressShared* pShared = view.as<ProgressShared>();
    // A process id is never 0, the free claim.
    if (!ClaimRecord(pShared, GetCurrentProcessId())) return Status::kInUse;
    m_section = static_cast<UniqueKernelHandle&&>(section);
    m_view = static_cast<UniqueMappedView&&>(view);
    m_tracker.Start(pShared, SystemProgressClock(), cbTotal);
    return Status::kOk;
}

void ProgressWriter::Finish(ProgressState state, const wchar_t* pchMessage, std::size_t cchMessage) {
    if (!Active()) return;
    m_tracker.Finish(state, Utf16(pchMessage), cchMessage);
    ReleaseRecord(m_view.as<ProgressShared>());
    m_view.reset();
    if (m_tracker.EndedBeforeItsBody()) {
        m_section.reset();
        return;
    }
    KeepEndedProgress(m_szName, m_section.release());
}

#include "progress/progress_reader.h"

#include <windows.h>

#include "platform/win32_owners.h"
#include "progress/progress_id.h"
#include "progress/progress_keeper.h"
#include "progress/progress_section.h"
#include "progress/system_clock.h"

namespace {
// An update takes well under a microsecond, unless the writer's thread is
// switched out in the middle of one: spin a little, then give way.
constexpr int kSnapshotTries = 100;

void WaitForWriter(int nAttempt) {
    if (nAttempt < 10) {
        YieldProcessor();
    } else {
        Sleep(nAttempt < 50 ? 0 : 1);
    }
}

ProgressReadStatus ReadSection(const char16_t* pszName, ProgressRecord* pRecord) {
    UniqueKernelHandle section;
    UniqueMappedView view;
    DWORD dwError = OpenProgressSection(pszName, &section);
    if (dwError == ERROR_SUCCESS) dwError = MapProgressSection(section.get(), false, &view);
    if (dwError == ERROR_FILE_NOT_FOUND) return ProgressReadStatus::kUnknown;
    if (dwError == ERROR_ACCESS_DENIED) return ProgressReadStatus::kDenied;
    if (dwError != ERROR_SUCCESS) return ProgressReadStatus::kFailed;
    switch (SnapshotRecord(view.as<ProgressShared>(), pRecord, kSnapshotTries, WaitForWriter)) {
    case SnapshotStatus::kOk: return ProgressReadStatus::kOk;
    case SnapshotStatus::kBusy: return ProgressReadStatus::kBusy;
    case SnapshotStatus::kForeign: break;
    }
    return ProgressReadStatus::kUnknown;
}
}  // namespace

ProgressReadStatus ReadProgress(const wchar_t* pchId, std::size_t cchId, ProgressReport* pReport) {
    SweepEndedProgress();
    char16_t szName[kcchProgressSectionName];
    ProgressReadStatus status = ProgressReadStatus::kBadId;
    if (ProgressSectionName(reinterpret_cast<const char16_t*>(pchId), cchId, szName))
        status = ReadSection(szName, &pReport->record);
    if (status != ProgressReadStatus::kOk) pReport->record = ProgressRecord{};
    pReport->figures = ProgressFiguresAt(pReport->record, SystemTimeTicks());
    return status;
}

#include "progress/progress_figures.h"

namespace {
constexpr double kTicksPerSecond = 1e7;
}

ProgressFigures ProgressFiguresAt(const ProgressRecord& rec, std::uint64_t ftNow) {
    const ProgressState state = static_cast<ProgressState>(rec.nState);
    ProgressFigures figures{0.0, 0.0, 0.0, -1.0};
    if (state == ProgressState::kUnknown) return figures;
    const bool bReading = state == ProgressState::kReading;

    const std::uint64_t ftUntil = bReading ? ftNow : rec.ftEnded;
    if (ftUntil > rec.ftStart) figures.dblElapsedSeconds = static_cast<double>(ftUntil - rec.ftStart) / kTicksPerSecond;
    const double dblRead = static_cast<double>(rec.cbRead);
    if (figures.dblElapsedSeconds > 0.0) figures.dblBytesPerSecond = dblRead / figures.dblElapsedSeconds;

    if (state == ProgressState::kDone) {
        figures.dblPercent = 100.0;  // bytes after the form's closing line are never read
    } else if (rec.cbTotal > 0) {
        figures.dblPercent = rec.cbRead >= rec.cbTotal ? 100.0 : 100.0 * dblRead / static_cast<double>(rec.cbTotal);
    }

    if (!bReading) {
        figures.dblRemainingSeconds = 0.0;
    } else if (rec.cbTotal > 0 && figures.dblBytesPerSecond > 0.0) {
        const std::uint64_t cbLeft = rec.cbRead >= rec.cbTotal ? 0 : rec.cbTotal - rec.cbRead;
        figures.dblRemainingSeconds = static_cast<double>(cbLeft) / figures.dblBytesPerSecond;
    }
    return figures;
}

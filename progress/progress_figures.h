// What a progress display shows, worked out from a record at a given time.
#pragma once
#include <cstdint>

#include "progress/progress_record.h"

struct ProgressFigures {
    double dblPercent;           // 0-100: 100 once done, 0 while the total is not known
    double dblElapsedSeconds;    // from the start to now, or to the end once ended
    double dblBytesPerSecond;    // bytes read over the elapsed time; 0 before any time passed
    double dblRemainingSeconds;  // 0 once ended; -1 while it cannot be told (no total, no rate yet)
};

// ftNow: FILETIME ticks of the moment asked about. A clock that stands
// before the record's start counts as no time passed.
ProgressFigures ProgressFiguresAt(const ProgressRecord& rec, std::uint64_t ftNow);

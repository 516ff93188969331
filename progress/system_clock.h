// The Win32 clocks behind the progress record: the system time for what it
// shows, the tick count for the throttle and the keeper (it never jumps when
// the time is set).
#pragma once
#include <cstdint>

#include "progress/progress_tracker.h"

std::uint64_t SystemTimeTicks();
const ProgressClock& SystemProgressClock();

#include "progress/system_clock.h"

#include <windows.h>

namespace {
std::uint32_t SystemMilliseconds() { return GetTickCount(); }

const ProgressClock kSystemClock = {SystemTimeTicks, SystemMilliseconds};
}  // namespace

std::uint64_t SystemTimeTicks() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

const ProgressClock& SystemProgressClock() { return kSystemClock; }

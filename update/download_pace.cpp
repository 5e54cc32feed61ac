#include "update/download_pace.h"

#include "update/release_limits.h"

Pace CheckPace(PaceMark& mark, uint64_t nowMs, uint64_t bytes) {
    if (nowMs - mark.timeMs < kPaceWindowMs) return Pace::Fine;
    if (bytes - mark.bytes < kPaceFloorBytes) return Pace::TooSlow;
    mark = PaceMark{nowMs, bytes};
    return Pace::MarkMoved;
}

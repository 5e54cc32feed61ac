#include "update/download/download_pace.h"

Pace CheckPace(PaceMark& mark, uint64_t nowMs, uint64_t bytes) {
    if (nowMs - mark.timeMs < kPaceWindowMs) return Pace::Fine;
    if (bytes - mark.bytes < kPaceFloorBytes) return Pace::TooSlow;
    mark = PaceMark{nowMs, bytes};
    return Pace::MarkMoved;
}

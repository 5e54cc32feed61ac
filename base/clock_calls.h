#pragma once

#include <windows.h>

#include "base/system_calls.h"

// The program's clock (base/system_calls.h): the millisecond tick count every
// wait and pace is judged by, and the pause a worker thread takes. Every wait
// and pause of the program goes through base/wait.h, and so through this
// table; a test swaps it to let minutes pass in a moment, or to run every wait
// a number of times faster while the simulated world keeps real time.
struct ClockCalls {
    decltype(&::GetTickCount64) tickCount;
    decltype(&::Sleep) sleep;

    static ClockCalls System();
};

inline ClockCalls& Clock() { return CallsInUse<ClockCalls>(); }

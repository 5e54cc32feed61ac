#pragma once

#include <windows.h>

#include "base/system_calls.h"

// The power call of the update (base/system_calls.h): while an update runs,
// its thread tells the system not to sleep for lack of input. A test puts a
// call here that notes what was asked on which thread; Wine only pretends.
struct PowerCalls {
    decltype(&::SetThreadExecutionState) setThreadExecutionState;

    static PowerCalls System();
};

inline PowerCalls& Power() { return CallsInUse<PowerCalls>(); }

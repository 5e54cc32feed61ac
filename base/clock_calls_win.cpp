#include "base/clock_calls.h"

ClockCalls ClockCalls::System() { return ClockCalls{::GetTickCount64, ::Sleep}; }

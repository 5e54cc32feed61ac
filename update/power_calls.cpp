#include "update/power_calls.h"

PowerCalls PowerCalls::System() { return PowerCalls{::SetThreadExecutionState}; }

#include "update/workflow/power_calls.h"

PowerCalls PowerCalls::System() { return PowerCalls{::SetThreadExecutionState}; }

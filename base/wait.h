#pragma once

#include <cstdint>
#include <functional>

// Every wait and pause of the program, on the program's clock
// (base/clock_calls.h), so that one clock decides them all.

// Where a wait ends: `waitMs` after the moment it was set.
struct Deadline {
    uint64_t startMs = 0;
    uint64_t waitMs = 0;
};

// A deadline `waitMs` from now.
Deadline DeadlineAfter(uint64_t waitMs);

// True once the deadline's time has passed (at `waitMs` exactly, too).
bool DeadlinePassed(const Deadline& deadline);

// Looks at `done` at once, then again after every pause of `pollMs`, until it
// holds (true) or the wait is over (false). One round is: look, then check the
// deadline, then pause. So a look made at or after the deadline still counts,
// the wait ends right after the first look that finds the deadline passed,
// and it never ends with a pause. A look that takes time itself (a question
// put to the device) is waited for, even past the deadline; several polls
// may share one deadline.
bool PollUntil(const Deadline& deadline, uint32_t pollMs, const std::function<bool()>& done);

// A fixed pause of the calling worker thread.
void Pause(uint32_t ms);

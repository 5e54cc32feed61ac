#include "base/wait.h"

#include "base/clock_calls.h"

Deadline DeadlineAfter(uint64_t waitMs) { return Deadline{Clock().tickCount(), waitMs}; }

bool DeadlinePassed(const Deadline& deadline) { return Clock().tickCount() - deadline.startMs >= deadline.waitMs; }

bool PollUntil(const Deadline& deadline, uint32_t pollMs, const std::function<bool()>& done) {
    for (;;) {
        if (done()) return true;
        if (DeadlinePassed(deadline)) return false;
        Pause(pollMs);
    }
}

void Pause(uint32_t ms) { Clock().sleep(ms); }

#include <gtest/gtest.h>

#include <vector>

#include "base/clock_calls.h"
#include "base/wait.h"
#include "tests/support/calls_override.h"

// The one way the program waits, on a clock that moves only when the program
// pauses or a look takes time.

namespace {

ULONGLONG g_nowMs = 0;

ULONGLONG WINAPI FakeNow() { return g_nowMs; }
void WINAPI FakeSleep(DWORD ms) { g_nowMs += ms; }

}  // namespace

TEST(PollUntil, LooksAtOnceThenAfterEachPauseUntilItHoldsOrALookFindsTheDeadlinePassed) {
    const struct {
        const char* story;
        uint64_t waitMs;
        uint32_t pollMs;
        uint64_t lookMs;   // how long each look takes
        int holdsAtLook;   // 0: never
        bool result;
        std::vector<ULONGLONG> looksAt;
    } cases[] = {
        {"holds at once: no pause", 1000, 400, 0, 1, true, {0}},
        {"holds at the third look", 1000, 400, 0, 3, true, {0, 400, 800}},
        {"never: the look at the deadline is the last", 800, 400, 0, 0, false, {0, 400, 800}},
        {"never: the first look past the deadline is the last", 1000, 400, 0, 0, false, {0, 400, 800, 1200}},
        {"holds at the look past the deadline", 1000, 400, 0, 4, true, {0, 400, 800, 1200}},
        {"a look that takes long is waited for", 1000, 400, 700, 0, false, {0, 1100}},
        {"no time at all: one look", 0, 400, 0, 0, false, {0}},
    };
    CallsOverride<ClockCalls> clock;
    clock->tickCount = FakeNow;
    clock->sleep = FakeSleep;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.story);
        g_nowMs = 5000;
        std::vector<ULONGLONG> looksAt;
        const Deadline deadline = DeadlineAfter(c.waitMs);
        const bool result = PollUntil(deadline, c.pollMs, [&] {
            looksAt.push_back(g_nowMs - 5000);
            g_nowMs += c.lookMs;
            return static_cast<int>(looksAt.size()) == c.holdsAtLook;
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(looksAt, c.looksAt);
        // The wait ends with its last look, never with a pause.
        EXPECT_EQ(g_nowMs - 5000, looksAt.back() + c.lookMs);
    }
}

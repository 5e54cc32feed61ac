#pragma once

#include <cstdint>

#include "base/clock_calls.h"
#include "tests/support/calls_override.h"

// Runs every wait and pause of the program `factor` times faster while it
// lives: from the moment it is made, the program's clock (base/clock_calls.h)
// counts `factor` milliseconds for every real one, and each pause lasts
// 1/`factor` of its length, but at least 10 ms (or its own length when that is
// shorter). The program's own time-outs stay as they are, only their time
// passes faster; a test that measures elapsed time
// reads Clock().tickCount() and compares it with the program's named constant.
// One at a time, made and ended while no task runs.
//
// The simulated world keeps real time: give the simulator's delays as
// RealMs(the program's milliseconds), so that a drive meant to come after 17 s
// of the program's time does.
//
//   ShortenedWaits waits(5);
//   SimDevice device("drive_delay_ms=" + std::to_string(waits.RealMs(17000)));
class ShortenedWaits {
public:
    explicit ShortenedWaits(uint32_t factor);
    ~ShortenedWaits();
    ShortenedWaits(const ShortenedWaits&) = delete;
    ShortenedWaits& operator=(const ShortenedWaits&) = delete;

    uint64_t RealMs(uint64_t programMs) const { return programMs / factor_; }

private:
    uint32_t factor_;
    CallsOverride<ClockCalls> clock_;
};

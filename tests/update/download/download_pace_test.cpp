#include <gtest/gtest.h>

#include <vector>

#include "update/download/download_pace.h"

namespace {

// One look at the download: when, with how many bytes in all, and the verdict.
struct Look {
    uint64_t nowMs;
    uint64_t bytes;
    Pace pace;
};

struct PaceCase {
    const char* story;
    std::vector<Look> looks;  // from a mark set at kMarkMs with nothing brought
};

constexpr uint64_t kMarkMs = 1000;
constexpr uint64_t kWindowEndMs = kMarkMs + kPaceWindowMs;

const PaceCase kPaceCases[] = {
    {"a drip of 512 bytes every 20 s fails at the first look past the window",
     {{kMarkMs + 20000, 512, Pace::Fine}, {kMarkMs + 40000, 1024, Pace::TooSlow}}},
    {"the floor at the window's end moves the mark; one byte less in the next window fails",
     {{kWindowEndMs, kPaceFloorBytes, Pace::MarkMoved},
      {kWindowEndMs + kPaceWindowMs, 2 * kPaceFloorBytes - 1, Pace::TooSlow}}},
    {"a steady 20000 bytes per window is judged from each new mark",
     {{kWindowEndMs, 20000, Pace::MarkMoved},
      {kWindowEndMs + 14000, 20001, Pace::Fine},
      {kWindowEndMs + kPaceWindowMs, 40000, Pace::MarkMoved}}},
};

}  // namespace

TEST(CheckPace, JudgesEachWindowSinceTheMark) {
    for (const PaceCase& c : kPaceCases) {
        SCOPED_TRACE(c.story);
        PaceMark mark{kMarkMs, 0};
        for (const Look& look : c.looks) {
            SCOPED_TRACE(look.nowMs);
            EXPECT_EQ(CheckPace(mark, look.nowMs, look.bytes), look.pace);
        }
    }
}

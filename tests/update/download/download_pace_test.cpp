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
    std::vector<Look> looks;  // from a mark set at 1000 ms with nothing brought
};

const PaceCase kPaceCases[] = {
    {"a drip of 512 bytes every 20 s fails at the first look past 30 s",
     {{21000, 512, Pace::Fine}, {41000, 1024, Pace::TooSlow}}},
    {"the floor at the window's end moves the mark; one byte less in the next window fails",
     {{31000, 16384, Pace::MarkMoved}, {61000, 32767, Pace::TooSlow}}},
    {"a steady 20000 bytes per 30 s is judged from each new mark",
     {{31000, 20000, Pace::MarkMoved}, {45000, 20001, Pace::Fine}, {61000, 40000, Pace::MarkMoved}}},
};

}  // namespace

TEST(CheckPace, JudgesEachWindowSinceTheMark) {
    for (const PaceCase& c : kPaceCases) {
        SCOPED_TRACE(c.story);
        PaceMark mark{1000, 0};
        for (const Look& look : c.looks) {
            SCOPED_TRACE(look.nowMs);
            EXPECT_EQ(CheckPace(mark, look.nowMs, look.bytes), look.pace);
        }
    }
}

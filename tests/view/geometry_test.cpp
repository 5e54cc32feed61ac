#include <gtest/gtest.h>

#include "view/geometry.h"

// The knob and the progress bar's reach.

TEST(ToggleKnob, TwentyEightPixelSwitchHasA22PixelKnobThreeFromTopAndEnd) {
    const KnobBox off = ToggleKnob(100, 40, 154, 68, false);
    EXPECT_EQ(off.size, 22);
    EXPECT_EQ(off.left, 103);
    EXPECT_EQ(off.top, 43);
    const KnobBox on = ToggleKnob(100, 40, 154, 68, true);
    EXPECT_EQ(on.size, 22);
    EXPECT_EQ(on.left + on.size, 154 - 3);
    EXPECT_EQ(on.top, 43);
}

TEST(ToggleKnob, SmallSwitchKeepsA12PixelKnobCentredWithTruncation) {
    // h = 11: d = 12, top = 0 + (11 - 12) / 2 = 0 (truncated toward zero, not -1).
    const KnobBox k = ToggleKnob(0, 0, 40, 11, true);
    EXPECT_EQ(k.size, 12);
    EXPECT_EQ(k.top, 0);
    EXPECT_EQ(k.left, 40 - 12 - 3);
    // h = 21: d = 15, top = 3.
    EXPECT_EQ(ToggleKnob(0, 10, 40, 31, false).top, 13);
}

TEST(ProgressBarRight, ScalesClampsAndKeepsAVisibleMinimum) {
    struct Case {
        int32_t percent;
        int32_t right;
    };
    // Inner rectangle from x 10, 400 wide.
    const Case cases[] = {{0, -1}, {-5, -1}, {1, 16}, {2, 18}, {50, 210}, {99, 406}, {100, 410}, {250, 410}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        EXPECT_EQ(ProgressBarRight(10, 410, c.percent), c.right);
    }
    EXPECT_EQ(ProgressBarRight(10, 10, 50), -1);
    EXPECT_EQ(ProgressBarRight(10, 8, 50), -1);
}

TEST(ProgressBarRight, ProductDoesNotOverflowOnHugeWidths) {
    EXPECT_EQ(ProgressBarRight(0, 2000000000, 100), 2000000000);
    EXPECT_EQ(ProgressBarRight(0, 2000000000, 50), 1000000000);
}

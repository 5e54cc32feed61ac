#include <gtest/gtest.h>

#include "app/layout.h"

// The card and control positions for the client sizes the window meets.

namespace {
LayoutRect R(int32_t l, int32_t t, int32_t r, int32_t b) { return LayoutRect{l, t, r, b}; }

void ExpectPlace(const ControlPlace& p, int32_t x, int32_t y, int32_t w, int32_t h) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
}
}  // namespace

TEST(CardLayout, MinimumSizeAndAnythingSmallerGiveTheSameCards) {
    // A minimised window reports 0 by 0; a too-short one is raised to 500.
    for (auto size : {std::pair<int, int>{840, 500}, {0, 0}, {-10, 200}, {839, 499}}) {
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        const CardLayout c = ComputeCardLayout(size.first, size.second);
        EXPECT_EQ(c.header, R(24, 24, 816, 108));
        EXPECT_EQ(c.connection, R(24, 118, 816, 200));
        // Column 254, centred at x0 = 25.
        EXPECT_EQ(c.current, R(25, 212, 279, 372));
        EXPECT_EQ(c.latest, R(293, 212, 547, 372));
        EXPECT_EQ(c.verdict, R(561, 212, 815, 372));
        EXPECT_EQ(c.status, R(24, 384, 816, 476));
    }
}

TEST(CardLayout, RowThatExactlyFillsTheWidthIsNotShifted) {
    const CardLayout c = ComputeCardLayout(904, 461);
    EXPECT_EQ(c.current, R(24, 212, 300, 372));  // column 276, x0 = 24
    EXPECT_EQ(c.latest, R(314, 212, 590, 372));
    EXPECT_EQ(c.verdict, R(604, 212, 880, 372));
    EXPECT_EQ(c.status, R(24, 384, 880, 476));
}

TEST(ControlPlaces, HeaderAndConnectionRowAtTheMinimumWidth) {
    const ControlPlaces p = PlaceControls(ComputeCardLayout(840, 500));
    ExpectPlace(p[SlotTitleLabel], 28, 26, 562, 40);
    ExpectPlace(p[SlotSubtitleLabel], 30, 70, 562, 24);
    ExpectPlace(p[SlotMacroLabel], 600, 36, 138, 22);
    ExpectPlace(p[SlotMacroToggle], 746, 33, 54, 28);
    ExpectPlace(p[SlotHidLabel], 600, 65, 138, 20);
    ExpectPlace(p[SlotHidStateLabel], 600, 84, 138, 18);
    ExpectPlace(p[SlotHidToggle], 746, 71, 54, 28);

    ExpectPlace(p[SlotPortCombo], 40, 146, 253, 34);
    ExpectPlace(p[SlotRefreshButton], 305, 146, 124, 34);
    ExpectPlace(p[SlotConnectButton], 441, 146, 124, 34);
    ExpectPlace(p[SlotConnStateLabel], 581, 147, 210, 22);
    ExpectPlace(p[SlotPortLabel], 581, 168, 210, 22);
}

TEST(ControlPlaces, ComboWidthIsClampedAndStateColumnKeepsClearOfTheRightEdge) {
    struct Case {
        int32_t width;
        int32_t combo;
        int32_t stateX;
    };
    // 1000: (952-32)/3 = 306 capped at 300; right edge wins: 976 - 230.
    // 2000: still 300; the column follows the combo: 40 + 300 + 288.
    for (const Case& c : {Case{1000, 300, 628}, Case{2000, 300, 628}, Case{904, 274, 602}}) {
        SCOPED_TRACE(c.width);
        const ControlPlaces p = PlaceControls(ComputeCardLayout(c.width, 500));
        EXPECT_EQ(p[SlotPortCombo].width, c.combo);
        EXPECT_EQ(p[SlotConnStateLabel].x, c.stateX);
        EXPECT_EQ(p[SlotPortLabel].x, c.stateX);
    }
    // A narrow card would give a combo under 200; the floor holds (cards never get that narrow by themselves).
    CardLayout narrow = ComputeCardLayout(840, 500);
    narrow.connection.right = narrow.connection.left + 300;
    const ControlPlaces p = PlaceControls(narrow);
    EXPECT_EQ(p[SlotPortCombo].width, 200);
    EXPECT_EQ(p[SlotConnStateLabel].x, 24 + 300 - 230);
    narrow.header.right = narrow.header.left + 300;
    EXPECT_EQ(PlaceControls(narrow)[SlotTitleLabel].width, 260);
}

TEST(ControlPlaces, VersionCardsAndStatusCardFollowTheirCards) {
    const CardLayout cards = ComputeCardLayout(840, 500);
    const ControlPlaces p = PlaceControls(cards);
    ExpectPlace(p[SlotCurrentCaption], 41, 226, 180, 24);
    ExpectPlace(p[SlotCurrentVersionLabel], 41, 260, 222, 36);
    ExpectPlace(p[SlotReadVersionButton], 41, 324, 222, 34);
    ExpectPlace(p[SlotLatestCaption], 309, 226, 180, 24);
    ExpectPlace(p[SlotLatestVersionLabel], 309, 260, 222, 36);
    ExpectPlace(p[SlotCheckLatestButton], 309, 324, 222, 34);
    ExpectPlace(p[SlotVerdictCaption], 577, 226, 180, 24);
    ExpectPlace(p[SlotVerdictLabel], 577, 260, 222, 36);
    ExpectPlace(p[SlotUpdateButton], 577, 324, 222, 34);
    ExpectPlace(p[SlotStatusLabel], 40, 398, 760, 24);
    ExpectPlace(p[SlotProgressBar], 40, 430, 760, 18);
}

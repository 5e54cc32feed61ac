#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "tests/view/layout_checks.h"
#include "view/layout.h"

// The layout at the client sizes the window meets: its own, the minimum, a
// minimised window's 0 by 0, and wider or taller ones.

namespace {
const std::pair<int32_t, int32_t> kSizes[] = {{840, 500}, {0, 0}, {-10, 200}, {904, 461}, {1000, 500}, {1235, 700}, {2000, 900}};
}  // namespace

TEST(Layout, EveryControlSitsOnItsCardClearOfTheOthers) {
    for (const auto& size : kSizes) {
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        const CardLayout cards = ComputeCardLayout(size.first, size.second);
        const ControlPlaces places = PlaceControls(cards);
        ControlRects rects;
        for (size_t i = 0; i < rects.size(); ++i) {
            rects[i] = {places[i].x, places[i].y, places[i].x + places[i].width, places[i].y + places[i].height};
        }
        // A smaller client area is laid out at the minimum, and the surplus clipped.
        EXPECT_TRUE(ControlsSitOnTheirCards(cards, rects, std::max(size.first, kMinLayoutWidth),
                                            std::max(size.second, kMinLayoutHeight)));
    }
}

// The cards never overlap, and the three version cards stand in one row, equally
// wide and spaced, with as much room left of them as right (to a pixel).
TEST(Layout, CardsStandApartAndTheVersionCardsFormACentredRow) {
    for (const auto& size : kSizes) {
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        const CardLayout c = ComputeCardLayout(size.first, size.second);
        const LayoutRect all[] = {c.header, c.connection, c.current, c.latest, c.verdict, c.status};
        for (size_t a = 0; a < 6; ++a) {
            for (size_t b = a + 1; b < 6; ++b) {
                const bool apart = all[a].right <= all[b].left || all[b].right <= all[a].left ||
                                   all[a].bottom <= all[b].top || all[b].bottom <= all[a].top;
                EXPECT_TRUE(apart) << all[a] << " and " << all[b];
            }
        }
        EXPECT_EQ(c.current.width(), c.latest.width());
        EXPECT_EQ(c.latest.width(), c.verdict.width());
        EXPECT_EQ(c.latest.left - c.current.right, c.verdict.left - c.latest.right);
        const int32_t leftRoom = c.current.left - c.header.left;
        const int32_t rightRoom = c.header.right - c.verdict.right;
        EXPECT_GE(std::min(leftRoom, rightRoom), 0);
        EXPECT_LE(std::abs(leftRoom - rightRoom), 1);
    }
}

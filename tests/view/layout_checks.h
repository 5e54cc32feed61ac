#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "view/layout.h"

// What the eye relies on in the window's layout, checked on the numbers the
// layout gives and on the controls of the real window alike.

using ControlRects = std::array<LayoutRect, kLayoutSlotCount>;

// The card each control is drawn on.
inline const LayoutRect& CardOf(const CardLayout& cards, int slot) {
    switch (slot) {
    case SlotTitleLabel:
    case SlotSubtitleLabel:
    case SlotMacroLabel:
    case SlotMacroToggle:
    case SlotHidLabel:
    case SlotHidStateLabel:
    case SlotHidToggle: return cards.header;
    case SlotPortCombo:
    case SlotRefreshButton:
    case SlotConnectButton:
    case SlotConnStateLabel:
    case SlotPortLabel: return cards.connection;
    case SlotCurrentCaption:
    case SlotCurrentVersionLabel:
    case SlotReadVersionButton: return cards.current;
    case SlotLatestCaption:
    case SlotLatestVersionLabel:
    case SlotCheckLatestButton: return cards.latest;
    case SlotVerdictCaption:
    case SlotVerdictLabel:
    case SlotUpdateButton: return cards.verdict;
    default: return cards.status;  // the status line and the progress bar
    }
}

inline bool Contains(const LayoutRect& outer, const LayoutRect& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

inline std::ostream& operator<<(std::ostream& out, const LayoutRect& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

// Every control has a size, lies on its own card and inside the client area
// (0, 0, width, height), and covers no other control. Labels stacked in a
// column may share one row of pixels: their text never reaches their edges.
inline testing::AssertionResult ControlsSitOnTheirCards(const CardLayout& cards, const ControlRects& controls,
                                                        int32_t width, int32_t height) {
    testing::AssertionResult result = testing::AssertionSuccess();
    bool ok = true;
    auto fail = [&]() -> testing::AssertionResult& {
        if (ok) result = testing::AssertionFailure();
        ok = false;
        return result;
    };
    const LayoutRect client{0, 0, width, height};
    for (int a = 0; a < kLayoutSlotCount; ++a) {
        const LayoutRect& r = controls[static_cast<size_t>(a)];
        if (r.right <= r.left || r.bottom <= r.top) fail() << "\nslot " << a << " " << r << " has no size";
        if (!Contains(CardOf(cards, a), r)) fail() << "\nslot " << a << " " << r << " is off its card " << CardOf(cards, a);
        if (!Contains(client, r)) fail() << "\nslot " << a << " " << r << " is outside the client area " << client;
        for (int b = a + 1; b < kLayoutSlotCount; ++b) {
            const LayoutRect& o = controls[static_cast<size_t>(b)];
            const int32_t across = std::min(r.right, o.right) - std::max(r.left, o.left);
            const int32_t down = std::min(r.bottom, o.bottom) - std::max(r.top, o.top);
            if (across > 1 && down > 1) fail() << "\nslots " << a << " " << r << " and " << b << " " << o << " overlap";
        }
    }
    return result;
}

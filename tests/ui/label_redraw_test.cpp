#include <gtest/gtest.h>

#include "app/app_state.h"
#include "probe.h"
#include "tests/app/window_fixture.h"
#include "tests/ui/pixel_checks.h"
#include "ui/palette.h"

// A transparent label whose text gets shorter must not keep showing the old text.

TEST(TransparentLabel, ShorterTextLeavesNoTraceOfTheOldOne) {
    TestMainWindow main;
    SetWindowPos(main.window(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    HWND title = g_app.titleLabel;
    RECT area{};
    GetWindowRect(title, &area);
    area.left += 60;  // leave the first glyph of the short text out

    SetWindowTextW(title, L"WWWWWWWWWWWWWWWWWWWWWWWW");
    main.PumpUntil([] { return false; }, 300);
    ScreenPixels before;
    ASSERT_TRUE(CaptureScreen(area, before));
    ASSERT_GT(CountColour(before, area, palette::kTitleText, 40), 200) << "the long text is on screen";

    SetWindowTextW(title, L"I");
    main.PumpUntil([] { return false; }, 300);
    ScreenPixels after;
    ASSERT_TRUE(CaptureScreen(area, after));
    EXPECT_EQ(CountColour(after, area, palette::kTitleText, 40), 0);
    // What shows instead is the card behind the label.
    EXPECT_TRUE(PixelIs(after, area.left + 200, (area.top + area.bottom) / 2, palette::kHeaderCardFill));
}

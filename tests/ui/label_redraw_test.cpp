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
    // The label's last quarter, which the long text reaches and the title does not.
    const RECT tail{area.right - (area.right - area.left) / 4, area.top, area.right, area.bottom};
    ScreenPixels shot;
    auto titlePixels = [&](const RECT& part) {
        return CaptureScreen(area, shot) ? CountColour(shot, part, palette::kTitleText, 40) : -1;
    };

    SetWindowTextW(title, L"WWWWWWWWWWWWWWWWWWWWWWWW");
    ASSERT_TRUE(main.PumpUntil([&] { return titlePixels(tail) > 200; }, 5000)) << "the long text never showed";

    SetWindowTextW(title, L"I");
    EXPECT_TRUE(main.PumpUntil([&] { return titlePixels(area) == 0; }, 5000))
        << CountColour(shot, area, palette::kTitleText, 40) << " pixels of the old text are still on screen";
    // What shows instead is the card behind the label.
    EXPECT_TRUE(PixelIs(shot, area.left + 200, (area.top + area.bottom) / 2, palette::kHeaderCardFill));
}

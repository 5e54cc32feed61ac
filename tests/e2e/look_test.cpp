#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <functional>

#include "probe.h"
#include "task/messages.h"
#include "tests/e2e/program.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "tests/ui/pixel_checks.h"
#include "ui/palette.h"
#include "view/control_ids.h"

// The painted look of the real window, read back from the screen. Fonts differ
// under Wine, so only colours and positions are checked, never glyphs.

namespace {

struct Look {
    explicit Look(HWND window) : main(window) {
        SetWindowPos(main, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    HWND main = nullptr;
    POINT origin{};  // the client area's top-left corner on screen
    int width = 0;   // client size
    int height = 0;
    ScreenPixels shot;

    bool Take() {
        RECT client{};
        GetClientRect(main, &client);
        width = client.right;
        height = client.bottom;
        origin = {0, 0};
        ClientToScreen(main, &origin);
        RECT area{origin.x, origin.y, origin.x + width, origin.y + height};
        return CaptureScreen(area, shot);
    }
    // What the window paints reaches the screen a moment later: copies the
    // window until every check holds or the time-out passes, then runs the
    // checks once more on the last copy, to report what still fails.
    void Expect(const std::function<void()>& checks, DWORD timeoutMs = 5000) {
        WaitUntil([&] {
            if (!Take()) return false;
            testing::TestPartResultArray failures;
            testing::ScopedFakeTestPartResultReporter quiet(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
            checks();
            return failures.size() == 0;
        }, timeoutMs);
        checks();
    }
    testing::AssertionResult At(int clientX, int clientY, uint32_t colour, int tolerance = 2) const {
        return PixelIs(shot, origin.x + clientX, origin.y + clientY, colour, tolerance);
    }
    RECT Control(int id) const {
        RECT r{};
        ProbeScreenRect(main, id, r);
        return r;
    }
    int Mid(const RECT& r) const { return (r.top + r.bottom) / 2; }
    testing::AssertionResult Screen(int x, int y, uint32_t colour, int tolerance = 2) const {
        return PixelIs(shot, x, y, colour, tolerance);
    }
    // The label's text shows in this colour (enough clearly coloured glyph pixels) and not in the other.
    testing::AssertionResult TextColour(int id, uint32_t colour, uint32_t notColour) const {
        const RECT r = Control(id);
        const int matching = CountColour(shot, r, colour, 24);
        const int other = CountColour(shot, r, notColour, 24);
        if (matching > 15 && other == 0) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "label " << id << ": " << matching << " pixels of " << Hex(ScreenColour(colour))
                                           << ", " << other << " of " << Hex(ScreenColour(notColour));
    }
    // A push button's fill inside its left end and its border on the left edge.
    void ExpectButton(int id, const palette::ButtonColours& colours) const {
        const RECT r = Control(id);
        EXPECT_TRUE(Screen(r.left + 6, Mid(r), colours.fill)) << "button " << id;
        EXPECT_TRUE(Screen(r.left, Mid(r), colours.border)) << "button " << id;
    }
    // A toggle: the knob's centre is white at the end it rests at; the track shows at the other end.
    void ExpectToggle(int id, bool on, const palette::ButtonColours& track) const {
        const RECT r = Control(id);
        const int knobCentre = on ? r.right - 3 - 11 : r.left + 3 + 11;
        const int trackPoint = on ? r.left + 10 : r.right - 10;
        EXPECT_TRUE(Screen(knobCentre, Mid(r), palette::kKnobFill)) << "toggle " << id;
        EXPECT_TRUE(Screen(trackPoint, Mid(r), track.fill)) << "toggle " << id;
    }
};

uint32_t Blend(uint32_t from, uint32_t to, int step, int steps) {
    auto channel = [&](uint8_t a, uint8_t b) { return static_cast<uint32_t>(a + (b - a) * step / steps); };
    return palette::Rgb(channel(palette::Red(from), palette::Red(to)), channel(palette::Green(from), palette::Green(to)),
                        channel(palette::Blue(from), palette::Blue(to)));
}

}  // namespace

TEST(Look, IdleWindowBackdropCardsButtonsAndLabels) {
    RunningProgram program;
    ASSERT_TRUE(program.started());
    Look look(program.window());
    look.Expect([&] {
        const int w = look.width;
        const int h = look.height;

        // Backdrop: a vertical gradient, a circle off each of two corners.
        EXPECT_TRUE(look.At(8, 150, Blend(palette::kBackdropTop, palette::kBackdropBottom, 150, h)));
        EXPECT_TRUE(look.At(8, 4, palette::kBackdropTop));
        EXPECT_TRUE(look.At(w - 4, 4, palette::kCircleTopRight));
        EXPECT_TRUE(look.At(4, h - 4, palette::kCircleBottomLeft));

        // Cards: fill inside, border on the top edge.
        EXPECT_TRUE(look.At(w / 2, 100, palette::kHeaderCardFill));
        EXPECT_TRUE(look.At(w / 2, 24, palette::kTopCardBorder));
        EXPECT_TRUE(look.At(w / 2, 196, palette::kConnectionCardFill));
        EXPECT_TRUE(look.At(w / 2, 118, palette::kTopCardBorder));
        EXPECT_TRUE(look.At(40, 310, palette::kVersionCardFill));
        EXPECT_TRUE(look.At(140, 212, palette::kVersionCardBorder));
        EXPECT_TRUE(look.At(30, 426, palette::kStatusCardFill));
        EXPECT_TRUE(look.At(w / 2, 384, palette::kStatusCardBorder));

        // Buttons: primary and secondary, usable and not.
        look.ExpectButton(IdConnectButton, palette::kPrimaryNormal);
        look.ExpectButton(IdUpdateButton, palette::kButtonDisabled);
        look.ExpectButton(IdRefreshButton, palette::kSecondaryNormal);
        look.ExpectButton(IdReadVersionButton, palette::kButtonDisabled);

        // Switches greyed out, knobs at the off end; the progress track empty.
        look.ExpectToggle(IdMacroToggle, false, palette::kToggleDisabled);
        look.ExpectToggle(IdHidToggle, false, palette::kToggleDisabled);
        const RECT bar = look.Control(IdProgressBar);
        EXPECT_TRUE(look.Screen(bar.left + 10, look.Mid(bar), palette::kProgressTrackFill));
        EXPECT_TRUE(look.Screen((bar.left + bar.right) / 2, look.Mid(bar), palette::kProgressTrackFill));
        EXPECT_TRUE(look.Screen(bar.left, look.Mid(bar), palette::kProgressTrackBorder));

        // Labels that follow the state, each on its own background.
        EXPECT_TRUE(look.TextColour(IdConnStateLabel, palette::kDisconnectedText, palette::kGoodText));
        EXPECT_TRUE(look.TextColour(IdHidStateLabel, palette::kQuietText, palette::kGoodText));
        EXPECT_TRUE(look.TextColour(IdVerdictLabel, palette::kVerdictText, palette::kNewerVersionText));
        const RECT conn = look.Control(IdConnStateLabel);
        EXPECT_TRUE(look.Screen(conn.right - 3, conn.top + 2, palette::kWhite));
        const RECT hid = look.Control(IdHidStateLabel);
        EXPECT_TRUE(look.Screen(hid.right - 3, hid.top + 1, palette::kHeaderLabelBack));
        const RECT status = look.Control(IdStatusLabel);
        EXPECT_TRUE(look.Screen(status.right - 3, status.top + 2, palette::kStatusLabelBack));
    });
}

TEST(Look, ConnectedWindowWithANewerVersionSwitchesAndProgress) {
    ResetUpdateServer();
    ServeManifest("version=2.0.0\nxzdz=http://127.0.0.1/norva1-2.0.0.uf2\n");
    SimDevice device("fw=1.0.0 app=1 hid_cfg=0");
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;
    ASSERT_TRUE(window.ConnectAndSync(10000));
    ASSERT_TRUE(ProbePostCommand(main, IdCheckLatestButton));
    ASSERT_TRUE(WaitForText(main, IdStatusLabel, L"检测到新固件: 2.0.0", 10000)) << TextOf(main, IdStatusLabel);
    ASSERT_TRUE(WaitForEnabled(main, IdUpdateButton, true, 5000));
    ASSERT_TRUE(ProbePost(main, WM_APP_PROGRESS, 50, 0));

    Look look(main);
    // Half way: the gradient reaches the middle of the inner track, no further.
    const RECT bar = look.Control(IdProgressBar);
    const int innerLeft = bar.left + 2;
    const int reach = innerLeft + (bar.right - bar.left - 4) * 50 / 100;
    const int mid = look.Mid(bar);
    look.Expect([&] {
        look.ExpectButton(IdUpdateButton, palette::kPrimaryNormal);
        look.ExpectButton(IdConnectButton, palette::kPrimaryNormal);  // the same look as "连接串口"
        look.ExpectButton(IdReadVersionButton, palette::kSecondaryNormal);
        look.ExpectToggle(IdMacroToggle, true, palette::kToggleOn);
        look.ExpectToggle(IdHidToggle, false, palette::kToggleOff);
        EXPECT_TRUE(look.TextColour(IdConnStateLabel, palette::kGoodText, palette::kDisconnectedText));
        EXPECT_TRUE(look.TextColour(IdVerdictLabel, palette::kNewerVersionText, palette::kVerdictText));
        EXPECT_TRUE(look.TextColour(IdHidStateLabel, palette::kQuietText, palette::kGoodText));
        EXPECT_TRUE(look.Screen(innerLeft + 8, mid, palette::kProgressBarStart, 6));
        EXPECT_TRUE(look.Screen(reach - 2, mid, palette::kProgressBarEnd, 6));
        EXPECT_TRUE(look.Screen(reach + 3, mid, palette::kProgressTrackFill));
    });
    SaveBitmap(look.shot, L"look-connected.bmp");

    // Disconnecting empties the bar and greys the verdict again.
    ASSERT_TRUE(ProbePostCommand(main, IdConnectButton));
    ASSERT_TRUE(WaitForText(main, IdStatusLabel, L"串口已断开。", 5000));
    look.Expect([&] {
        EXPECT_TRUE(look.Screen(innerLeft + 8, mid, palette::kProgressTrackFill));
        EXPECT_TRUE(look.TextColour(IdVerdictLabel, palette::kVerdictText, palette::kNewerVersionText));
        EXPECT_TRUE(look.TextColour(IdConnStateLabel, palette::kDisconnectedText, palette::kGoodText));
        look.ExpectToggle(IdMacroToggle, false, palette::kToggleDisabled);
    });
}

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/window_state.h"
#include "tests/app/layout_checks.h"
#include "tests/app/window_fixture.h"

// The real window's children as a user first sees them: each on its card, clear
// of the others, with its text and its font.

namespace {

struct Font {
    const wchar_t* face;
    LONG pixelHeight;
    LONG weight;
};
const Font kTitleFont{L"Segoe UI Variable Display", 34, 700};
const Font kStatusFont{L"Segoe UI Variable Text", 20, 600};
const Font kBodyFont{L"Segoe UI Variable Text", 16, 400};
const Font kVersionFont{L"Consolas", 28, 700};
const Font kVerdictFont{L"Segoe UI Variable Text", 18, 700};

struct Shown {
    HWND AppState::*control;
    LayoutSlot slot;
    const wchar_t* text;  // null: none to check (the port list, the toggles, the progress bar)
    const Font* font;     // null: drawn by the window itself
};

const Shown kShown[] = {
    {&AppState::titleLabel, SlotTitleLabel, L"NORVA 固件更新中心", &kTitleFont},
    {&AppState::subtitleLabel, SlotSubtitleLabel, L"串口连接、版本检查、在线更新（与客户端 UI 相同更新地址与流程）", &kBodyFont},
    {&AppState::macroLabel, SlotMacroLabel, L"宏模式", &kBodyFont},
    {&AppState::macroToggle, SlotMacroToggle, nullptr, nullptr},
    {&AppState::hidLabel, SlotHidLabel, L"HID 接口", &kBodyFont},
    {&AppState::hidStateLabel, SlotHidStateLabel, L"未连接设备", &kBodyFont},
    {&AppState::hidToggle, SlotHidToggle, nullptr, nullptr},
    {&AppState::portCombo, SlotPortCombo, nullptr, &kBodyFont},
    {&AppState::refreshButton, SlotRefreshButton, L"刷新串口", nullptr},
    {&AppState::connectButton, SlotConnectButton, L"连接串口", nullptr},
    {&AppState::connStateLabel, SlotConnStateLabel, L"未连接", &kStatusFont},
    {&AppState::portLabel, SlotPortLabel, L"串口: --", &kBodyFont},
    {&AppState::currentCaption, SlotCurrentCaption, L"当前固件版本", &kBodyFont},
    {&AppState::currentVersionLabel, SlotCurrentVersionLabel, L"--", &kVersionFont},
    {&AppState::readVersionButton, SlotReadVersionButton, L"读取当前版本", nullptr},
    {&AppState::latestCaption, SlotLatestCaption, L"最新固件版本", &kBodyFont},
    {&AppState::latestVersionLabel, SlotLatestVersionLabel, L"--", &kVersionFont},
    {&AppState::checkLatestButton, SlotCheckLatestButton, L"获取最新版本", nullptr},
    {&AppState::verdictCaption, SlotVerdictCaption, L"更新判断", &kBodyFont},
    {&AppState::verdictLabel, SlotVerdictLabel, L"等待检查", &kVerdictFont},
    {&AppState::updateButton, SlotUpdateButton, L"立即更新固件", nullptr},
    {&AppState::statusLabel, SlotStatusLabel, L"就绪", &kStatusFont},
    {&AppState::progressBar, SlotProgressBar, nullptr, nullptr},
};
static_assert(sizeof kShown / sizeof kShown[0] == kLayoutSlotCount, "every control");

}  // namespace

TEST(Controls, EachSitsOnItsPaintedCardClearOfTheOthersInsideTheWindow) {
    TestMainWindow main;
    RECT client{};
    GetClientRect(main.window(), &client);
    ControlRects rects;
    for (const Shown& c : kShown) {
        RECT r{};
        ASSERT_TRUE(GetWindowRect(g_app.*c.control, &r)) << "slot " << c.slot;
        MapWindowPoints(nullptr, main.window(), reinterpret_cast<POINT*>(&r), 2);
        rects[static_cast<size_t>(c.slot)] = {r.left, r.top, r.right, r.bottom};
    }
    EXPECT_TRUE(ControlsSitOnTheirCards(g_window.cards, rects, client.right, client.bottom));
}

TEST(Controls, StartWithTheirTextsInTheirFonts) {
    TestMainWindow main;
    for (const Shown& c : kShown) {
        HWND control = g_app.*c.control;
        SCOPED_TRACE(testing::Message() << "slot " << c.slot);
        if (c.text != nullptr) {
            EXPECT_EQ(main.Text(control), c.text);
        }
        if (c.font == nullptr) continue;
        LOGFONTW font{};
        const auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        ASSERT_EQ(GetObjectW(handle, sizeof font, &font), static_cast<int>(sizeof font));
        EXPECT_STREQ(font.lfFaceName, c.font->face);
        EXPECT_EQ(font.lfHeight, -c.font->pixelHeight);
        EXPECT_EQ(font.lfWeight, c.font->weight);
    }
}

TEST(MainWindow, IsAFixedSizeCaptionWindowThatClipsItsChildren) {
    TestMainWindow main;
    RECT r{};
    GetWindowRect(main.window(), &r);
    EXPECT_EQ(r.right - r.left, 920);
    EXPECT_EQ(r.bottom - r.top, 500);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(main.window(), GWL_STYLE));
    EXPECT_EQ(style & (WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              static_cast<DWORD>(WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
    EXPECT_EQ(GetMenu(main.window()), nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(main.window(), title, 64);
    EXPECT_STREQ(title, L"NORVA1 固件更新");
    EXPECT_EQ(GetClassLongPtrW(main.window(), GCLP_HBRBACKGROUND), 0);
}

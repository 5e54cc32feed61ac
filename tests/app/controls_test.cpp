#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "app/app_state.h"
#include "tests/app/window_fixture.h"
#include "tests/view/layout_checks.h"
#include "view/layout.h"

// The real window's children as a user first sees them: each made once from
// its row of the control table, on its card, clear of the others, with its
// text and its font.

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
    EXPECT_TRUE(ControlsSitOnTheirCards(g_app.cards, rects, client.right, client.bottom));
}

// Each row of the control table makes one child: in a layout slot no other
// child takes, with an id (other than the captions' 0) no other child has.
TEST(Controls, EachIsMadeOnceInASlotAndWithAnIdOfItsOwn) {
    TestMainWindow main;
    std::vector<HWND> children;
    for (HWND child = GetWindow(main.window(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    EXPECT_EQ(children.size(), static_cast<size_t>(kLayoutSlotCount));
    const ControlPlaces places = PlaceControls(g_app.cards);
    std::set<size_t> slotsTaken;
    std::set<int> ids;
    for (HWND child : children) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, main.window(), reinterpret_cast<POINT*>(&r), 2);
        // A combo box sets its own height; where it starts and how wide it is are the slot's.
        size_t slot = 0;
        while (slot < places.size() && !(places[slot].x == r.left && places[slot].y == r.top &&
                                         places[slot].width == r.right - r.left)) {
            ++slot;
        }
        const int id = GetDlgCtrlID(child);
        SCOPED_TRACE(testing::Message() << "the child with id " << id << " at " << r.left << "," << r.top);
        ASSERT_LT(slot, places.size()) << "not in any slot";
        EXPECT_TRUE(slotsTaken.insert(slot).second) << "slot " << slot << " taken twice";
        if (id == 0) continue;
        EXPECT_TRUE(ids.insert(id).second) << "id taken twice";
        EXPECT_EQ(GetDlgItem(main.window(), id), child);
    }
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

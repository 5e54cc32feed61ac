#include <gtest/gtest.h>

#include <cwchar>

#include "app/app_state.h"
#include "app/controls.h"
#include "app/layout.h"
#include "tests/app/window_fixture.h"

// The real window's children: where they sit, what they are, what they say.

namespace {

struct Expected {
    HWND AppState::*field;
    LayoutSlot slot;
    const wchar_t* className;
    int id;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    const wchar_t* text;
    HFONT AppState::*font;  // null: the control carries no font
};

constexpr DWORD kButton = WS_TABSTOP | BS_OWNERDRAW;
// The combo box hands WS_VSCROLL on to its drop-down list and does not keep it itself.
constexpr DWORD kCombo = WS_TABSTOP | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;

const Expected kExpected[] = {
    {&AppState::titleLabel, SlotTitleLabel, L"Static", 0, 0, L"NORVA 固件更新中心", &AppState::titleFont},
    {&AppState::subtitleLabel, SlotSubtitleLabel, L"Static", 0, 0,
     L"串口连接、版本检查、在线更新（与客户端 UI 相同更新地址与流程）", &AppState::bodyFont},
    {&AppState::macroLabel, SlotMacroLabel, L"Static", 1014, 0, L"宏模式", &AppState::bodyFont},
    {&AppState::macroToggle, SlotMacroToggle, L"Button", 1015, kButton, L"", nullptr},
    {&AppState::hidLabel, SlotHidLabel, L"Static", 1016, 0, L"HID 接口", &AppState::bodyFont},
    {&AppState::hidStateLabel, SlotHidStateLabel, L"Static", 1017, 0, L"未连接设备", &AppState::bodyFont},
    {&AppState::hidToggle, SlotHidToggle, L"Button", 1018, kButton, L"", nullptr},
    {&AppState::portCombo, SlotPortCombo, L"ComboBox", 1001, kCombo, nullptr, &AppState::bodyFont},
    {&AppState::refreshButton, SlotRefreshButton, L"Button", 1002, kButton, L"刷新串口", nullptr},
    {&AppState::connectButton, SlotConnectButton, L"Button", 1003, kButton, L"连接串口", nullptr},
    {&AppState::connStateLabel, SlotConnStateLabel, L"Static", 1007, 0, L"未连接", &AppState::statusFont},
    {&AppState::portLabel, SlotPortLabel, L"Static", 1008, 0, L"串口: --", &AppState::bodyFont},
    {&AppState::currentCaption, SlotCurrentCaption, L"Static", 0, 0, L"当前固件版本", &AppState::bodyFont},
    {&AppState::latestCaption, SlotLatestCaption, L"Static", 0, 0, L"最新固件版本", &AppState::bodyFont},
    {&AppState::verdictCaption, SlotVerdictCaption, L"Static", 0, 0, L"更新判断", &AppState::bodyFont},
    {&AppState::currentVersionLabel, SlotCurrentVersionLabel, L"Static", 1009, 0, L"--", &AppState::versionFont},
    {&AppState::latestVersionLabel, SlotLatestVersionLabel, L"Static", 1010, 0, L"--", &AppState::versionFont},
    {&AppState::verdictLabel, SlotVerdictLabel, L"Static", 1011, 0, L"等待检查", &AppState::verdictFont},
    {&AppState::readVersionButton, SlotReadVersionButton, L"Button", 1004, kButton, L"读取当前版本", nullptr},
    {&AppState::checkLatestButton, SlotCheckLatestButton, L"Button", 1005, kButton, L"获取最新版本", nullptr},
    {&AppState::updateButton, SlotUpdateButton, L"Button", 1006, kButton, L"立即更新固件", nullptr},
    {&AppState::statusLabel, SlotStatusLabel, L"Static", 1012, 0, L"就绪", &AppState::statusFont},
    {&AppState::progressBar, SlotProgressBar, L"Static", 1013, SS_OWNERDRAW, L"", nullptr},
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

}  // namespace

TEST(Controls, AllTwentyThreeSitWhereTheLayoutPutsThem) {
    TestMainWindow main;
    RECT client{};
    GetClientRect(main.window(), &client);
    const ControlPlaces places = PlaceControls(ComputeCardLayout(client.right, client.bottom));
    for (const Expected& e : kExpected) {
        HWND control = g_app.*e.field;
        ASSERT_NE(control, nullptr);
        SCOPED_TRACE(testing::Message() << "slot " << e.slot);
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, main.window(), reinterpret_cast<POINT*>(&r), 2);
        const ControlPlace& p = places[static_cast<size_t>(e.slot)];
        EXPECT_EQ(r.left, p.x);
        EXPECT_EQ(r.top, p.y);
        EXPECT_EQ(r.right - r.left, p.width);
        // A fixed-height owner-drawn combo box takes its height from its item height, not from MoveWindow.
        if (e.slot != SlotPortCombo) {
            EXPECT_EQ(r.bottom - r.top, p.height);
        }
    }
}

TEST(Controls, CarryTheirClassesIdsStylesTextsAndFonts) {
    TestMainWindow main;
    for (const Expected& e : kExpected) {
        HWND control = g_app.*e.field;
        SCOPED_TRACE(testing::Message() << "id " << e.id << " slot " << e.slot);
        EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), e.className), 0) << ClassOf(control).c_str();
        EXPECT_EQ(GetDlgCtrlID(control), e.id);
        EXPECT_EQ(GetParent(control), main.window());
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
        EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | e.style), WS_CHILD | WS_VISIBLE | e.style);
        EXPECT_EQ(GetWindowLongPtrW(control, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_NOPARENTNOTIFY), 0);
        if (e.className == std::wstring(L"Static")) {
            EXPECT_EQ(style & SS_NOTIFY, 0u) << "statics send no commands";
        }
        if (e.text != nullptr) {
            EXPECT_EQ(main.Text(control), e.text);
        }
        const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        if (e.font != nullptr) {
            EXPECT_EQ(font, g_app.*e.font);
        } else if (e.className == std::wstring(L"Button")) {
            EXPECT_EQ(font, nullptr) << "owner-drawn buttons get no font";
        }
    }
}

TEST(Controls, FontsHaveTheirFacesHeightsAndWeights) {
    TestMainWindow main;
    struct FontCase {
        HFONT AppState::*font;
        const wchar_t* face;
        LONG height;
        LONG weight;
    };
    const FontCase cases[] = {
        {&AppState::titleFont, L"Segoe UI Variable Display", -34, 700},
        {&AppState::statusFont, L"Segoe UI Variable Text", -20, 600},
        {&AppState::bodyFont, L"Segoe UI Variable Text", -16, 400},
        {&AppState::versionFont, L"Consolas", -28, 700},
        {&AppState::verdictFont, L"Segoe UI Variable Text", -18, 700},
    };
    for (const FontCase& c : cases) {
        LOGFONTW font{};
        ASSERT_EQ(GetObjectW(g_app.*c.font, sizeof font, &font), static_cast<int>(sizeof font));
        EXPECT_STREQ(font.lfFaceName, c.face);
        EXPECT_EQ(font.lfHeight, c.height);
        EXPECT_EQ(font.lfWeight, c.weight);
        EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY);
        EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
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

#include "app/controls.h"

#include <uxtheme.h>

#include <string>

#include "app/app_state.h"
#include "app/layout.h"
#include "app/window_state.h"

namespace {

constexpr DWORD kStatic = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;

struct ControlSpec {
    HWND AppState::*field;
    const wchar_t* className;
    int id;
    const wchar_t* text;
    DWORD style;
    int x, y, width, height;  // replaced by ApplyLayout before the window is shown
};

// Creation order.
const ControlSpec kControls[] = {
    {&AppState::titleLabel, L"STATIC", 0, L"NORVA 固件更新中心", kStatic, 24, 20, 520, 40},
    {&AppState::subtitleLabel, L"STATIC", 0, L"串口连接、版本检查、在线更新（与客户端 UI 相同更新地址与流程）", kStatic, 24, 60, 800, 24},
    {&AppState::macroLabel, L"STATIC", IdMacroLabel, L"宏模式", kStatic, 660, 34, 150, 22},
    {&AppState::macroToggle, L"BUTTON", IdMacroToggle, L"", kButton, 820, 32, 54, 28},
    {&AppState::hidLabel, L"STATIC", IdHidLabel, L"HID 接口", kStatic, 660, 58, 150, 20},
    {&AppState::hidStateLabel, L"STATIC", IdHidStateLabel, L"未连接设备", kStatic, 660, 76, 210, 18},
    {&AppState::hidToggle, L"BUTTON", IdHidToggle, L"", kButton, 820, 62, 54, 28},
    {&AppState::portCombo, L"COMBOBOX", IdPortCombo, nullptr,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
     24, 110, 220, 260},
    {&AppState::refreshButton, L"BUTTON", IdRefreshButton, L"刷新串口", kButton, 256, 108, 130, 34},
    {&AppState::connectButton, L"BUTTON", IdConnectButton, L"连接串口", kButton, 396, 108, 120, 34},
    {&AppState::connStateLabel, L"STATIC", IdConnStateLabel, L"未连接", kStatic, 540, 112, 220, 24},
    {&AppState::portLabel, L"STATIC", IdPortLabel, L"串口: --", kStatic, 540, 136, 240, 24},
    {&AppState::currentCaption, L"STATIC", 0, L"当前固件版本", kStatic, 24, 180, 180, 24},
    {&AppState::latestCaption, L"STATIC", 0, L"最新固件版本", kStatic, 300, 180, 180, 24},
    {&AppState::verdictCaption, L"STATIC", 0, L"更新判断", kStatic, 576, 180, 180, 24},
    {&AppState::currentVersionLabel, L"STATIC", IdCurrentVersionLabel, L"--", kStatic, 24, 210, 240, 36},
    {&AppState::latestVersionLabel, L"STATIC", IdLatestVersionLabel, L"--", kStatic, 300, 210, 240, 36},
    {&AppState::verdictLabel, L"STATIC", IdVerdictLabel, L"等待检查", kStatic, 576, 210, 280, 36},
    {&AppState::readVersionButton, L"BUTTON", IdReadVersionButton, L"读取当前版本", kButton, 24, 264, 240, 36},
    {&AppState::checkLatestButton, L"BUTTON", IdCheckLatestButton, L"获取最新版本", kButton, 300, 264, 240, 36},
    {&AppState::updateButton, L"BUTTON", IdUpdateButton, L"立即更新固件", kButton, 576, 264, 280, 36},
    {&AppState::statusLabel, L"STATIC", IdStatusLabel, L"就绪", kStatic, 24, 340, 840, 24},
    {&AppState::progressBar, L"STATIC", IdProgressBar, nullptr, WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 24, 374, 840, 20},
};

// Which control each layout slot moves.
HWND AppState::*const kSlotControls[kLayoutSlotCount] = {
    &AppState::titleLabel,         &AppState::subtitleLabel,      &AppState::macroLabel,
    &AppState::macroToggle,        &AppState::hidLabel,           &AppState::hidStateLabel,
    &AppState::hidToggle,          &AppState::portCombo,          &AppState::refreshButton,
    &AppState::connectButton,      &AppState::connStateLabel,     &AppState::portLabel,
    &AppState::currentCaption,     &AppState::currentVersionLabel, &AppState::readVersionButton,
    &AppState::latestCaption,      &AppState::latestVersionLabel, &AppState::checkLatestButton,
    &AppState::verdictCaption,     &AppState::verdictLabel,       &AppState::updateButton,
    &AppState::statusLabel,        &AppState::progressBar,
};

struct FontAssignment {
    HWND AppState::*control;
    HFONT AppState::*font;
};

// WM_SETFONT order.
const FontAssignment kFonts[] = {
    {&AppState::titleLabel, &AppState::titleFont},
    {&AppState::subtitleLabel, &AppState::bodyFont},
    {&AppState::currentCaption, &AppState::bodyFont},
    {&AppState::latestCaption, &AppState::bodyFont},
    {&AppState::verdictCaption, &AppState::bodyFont},
    {&AppState::currentVersionLabel, &AppState::versionFont},
    {&AppState::latestVersionLabel, &AppState::versionFont},
    {&AppState::verdictLabel, &AppState::verdictFont},
    {&AppState::macroLabel, &AppState::bodyFont},
    {&AppState::hidLabel, &AppState::bodyFont},
    {&AppState::hidStateLabel, &AppState::bodyFont},
    {&AppState::statusLabel, &AppState::statusFont},
    {&AppState::connStateLabel, &AppState::statusFont},
    {&AppState::portLabel, &AppState::bodyFont},
    {&AppState::portCombo, &AppState::bodyFont},
};

HFONT MakeFont(int pixelHeight, int weight, const wchar_t* face) {
    return CreateFontW(-pixelHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

void SetTextIfChanged(HWND control, const std::wstring& text) {
    wchar_t current[256] = {};
    const int length = GetWindowTextW(control, current, 256);
    if (length >= 0 && length < 255 && text == current) return;
    SetWindowTextW(control, text.c_str());
}

void Check(HWND toggle, bool on) { SendMessageW(toggle, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

}  // namespace

void CreateControls(HWND window) {
    g_app.titleFont = MakeFont(34, 700, L"Segoe UI Variable Display");
    g_app.statusFont = MakeFont(20, 600, L"Segoe UI Variable Text");
    g_app.bodyFont = MakeFont(16, 400, L"Segoe UI Variable Text");
    g_app.versionFont = MakeFont(28, 700, L"Consolas");
    g_app.verdictFont = MakeFont(18, 700, L"Segoe UI Variable Text");

    for (const ControlSpec& c : kControls) {
        g_app.*c.field = CreateWindowExW(0, c.className, c.text, c.style, c.x, c.y, c.width, c.height, window,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), g_app.instance,
                                         nullptr);
    }

    SetWindowTheme(g_app.portCombo, L"Explorer", nullptr);

    for (const FontAssignment& f : kFonts) {
        SendMessageW(g_app.*f.control, WM_SETFONT, reinterpret_cast<WPARAM>(g_app.*f.font), TRUE);
    }

    RECT client{};
    GetClientRect(window, &client);
    ComputeLayout(client.right - client.left, client.bottom - client.top);
    ApplyLayout();
}

void ComputeLayout(int32_t width, int32_t height) { g_window.cards = ComputeCardLayout(width, height); }

void ApplyLayout() {
    const ControlPlaces places = PlaceControls(g_window.cards);
    for (int slot = 0; slot < kLayoutSlotCount; ++slot) {
        const ControlPlace& p = places[static_cast<size_t>(slot)];
        MoveWindow(g_app.*kSlotControls[slot], p.x, p.y, p.width, p.height, TRUE);
    }
}

void ShowControlView(const ControlView& view) {
    EnableWindow(g_app.refreshButton, view.refreshEnabled);
    EnableWindow(g_app.portCombo, view.comboEnabled);
    EnableWindow(g_app.connectButton, view.connectEnabled);
    EnableWindow(g_app.readVersionButton, view.readVersionEnabled);
    EnableWindow(g_app.checkLatestButton, view.checkLatestEnabled);
    EnableWindow(g_app.updateButton, view.updateEnabled);
    EnableWindow(g_app.macroToggle, view.macroEnabled);
    EnableWindow(g_app.hidToggle, view.hidEnabled);

    Check(g_app.macroToggle, view.macroOn);
    Check(g_app.hidToggle, view.hidOn);

    SetTextIfChanged(g_app.connectButton, view.connectText);
    SetTextIfChanged(g_app.connStateLabel, view.connStateText);
    SetTextIfChanged(g_app.portLabel, view.portText);
    SetTextIfChanged(g_app.currentVersionLabel, view.currentVersionText);
    SetTextIfChanged(g_app.latestVersionLabel, view.latestVersionText);
    SetTextIfChanged(g_app.hidStateLabel, view.hidStateText);
    SetTextIfChanged(g_app.verdictLabel, view.verdictText);

    // Their colours and toggle faces come from the view when they repaint.
    InvalidateRect(g_app.hidStateLabel, nullptr, TRUE);
    InvalidateRect(g_app.macroToggle, nullptr, TRUE);
    InvalidateRect(g_app.hidToggle, nullptr, TRUE);
}

#include "app/controls.h"

#include <uxtheme.h>

#include <string>

#include "app/app_state.h"
#include "view/control_ids.h"
#include "view/layout.h"

namespace {

constexpr DWORD kStatic = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
constexpr DWORD kCombo =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
constexpr DWORD kOwnerDrawnStatic = WS_CHILD | WS_VISIBLE | SS_OWNERDRAW;

struct FontRow {
    HFONT AppState::*handle;
    int pixelHeight;
    int weight;
    const wchar_t* face;
};

// Made in this order.
const FontRow kFonts[] = {
    {&AppState::titleFont, 34, 700, L"Segoe UI Variable Display"},
    {&AppState::statusFont, 20, 600, L"Segoe UI Variable Text"},
    {&AppState::bodyFont, 16, 400, L"Segoe UI Variable Text"},
    {&AppState::versionFont, 28, 700, L"Consolas"},
    {&AppState::verdictFont, 18, 700, L"Segoe UI Variable Text"},
};

// One row per control.
struct ControlRow {
    HWND AppState::*handle;
    const wchar_t* className;
    int id;               // 0: a title or caption that nothing addresses
    const wchar_t* text;  // null: none
    DWORD style;
    // Where it is created. The layout moves it into its slot before the window
    // is shown; a combo box keeps this height as its drop-down list's.
    int x, y, width, height;
    LayoutSlot slot;
    HFONT AppState::*font;  // null: drawn by the window itself
    LabelKind look;         // a static control's colours (Other: none of its own)
};

constexpr HFONT AppState::*kNoFont = nullptr;
constexpr LabelKind kNoLook = LabelKind::Other;

// Creation order.
const ControlRow kControls[] = {
    {&AppState::titleLabel, L"STATIC", 0, L"NORVA 固件更新中心", kStatic, 24, 20, 520, 40, SlotTitleLabel,
     &AppState::titleFont, LabelKind::Title},
    {&AppState::subtitleLabel, L"STATIC", 0, L"串口连接、版本检查、在线更新（与客户端 UI 相同更新地址与流程）", kStatic, 24,
     60, 800, 24, SlotSubtitleLabel, &AppState::bodyFont, LabelKind::Subtitle},
    {&AppState::macroLabel, L"STATIC", IdMacroLabel, L"宏模式", kStatic, 660, 34, 150, 22, SlotMacroLabel,
     &AppState::bodyFont, LabelKind::SwitchName},
    {&AppState::macroToggle, L"BUTTON", IdMacroToggle, L"", kButton, 820, 32, 54, 28, SlotMacroToggle, kNoFont,
     kNoLook},
    {&AppState::hidLabel, L"STATIC", IdHidLabel, L"HID 接口", kStatic, 660, 58, 150, 20, SlotHidLabel,
     &AppState::bodyFont, LabelKind::SwitchName},
    {&AppState::hidStateLabel, L"STATIC", IdHidStateLabel, L"未连接设备", kStatic, 660, 76, 210, 18, SlotHidStateLabel,
     &AppState::bodyFont, LabelKind::HidState},
    {&AppState::hidToggle, L"BUTTON", IdHidToggle, L"", kButton, 820, 62, 54, 28, SlotHidToggle, kNoFont, kNoLook},
    {&AppState::portCombo, L"COMBOBOX", IdPortCombo, nullptr, kCombo, 24, 110, 220, 260, SlotPortCombo,
     &AppState::bodyFont, kNoLook},
    {&AppState::refreshButton, L"BUTTON", IdRefreshButton, L"刷新串口", kButton, 256, 108, 130, 34, SlotRefreshButton,
     kNoFont, kNoLook},
    {&AppState::connectButton, L"BUTTON", IdConnectButton, L"连接串口", kButton, 396, 108, 120, 34, SlotConnectButton,
     kNoFont, kNoLook},
    {&AppState::connStateLabel, L"STATIC", IdConnStateLabel, L"未连接", kStatic, 540, 112, 220, 24,
     SlotConnStateLabel, &AppState::statusFont, LabelKind::ConnState},
    {&AppState::portLabel, L"STATIC", IdPortLabel, L"串口: --", kStatic, 540, 136, 240, 24, SlotPortLabel,
     &AppState::bodyFont, LabelKind::Caption},
    {&AppState::currentCaption, L"STATIC", 0, L"当前固件版本", kStatic, 24, 180, 180, 24, SlotCurrentCaption,
     &AppState::bodyFont, LabelKind::Caption},
    {&AppState::latestCaption, L"STATIC", 0, L"最新固件版本", kStatic, 300, 180, 180, 24, SlotLatestCaption,
     &AppState::bodyFont, LabelKind::Caption},
    {&AppState::verdictCaption, L"STATIC", 0, L"更新判断", kStatic, 576, 180, 180, 24, SlotVerdictCaption,
     &AppState::bodyFont, LabelKind::Caption},
    {&AppState::currentVersionLabel, L"STATIC", IdCurrentVersionLabel, L"--", kStatic, 24, 210, 240, 36,
     SlotCurrentVersionLabel, &AppState::versionFont, LabelKind::VersionValue},
    {&AppState::latestVersionLabel, L"STATIC", IdLatestVersionLabel, L"--", kStatic, 300, 210, 240, 36,
     SlotLatestVersionLabel, &AppState::versionFont, LabelKind::VersionValue},
    {&AppState::verdictLabel, L"STATIC", IdVerdictLabel, L"等待检查", kStatic, 576, 210, 280, 36, SlotVerdictLabel,
     &AppState::verdictFont, LabelKind::Verdict},
    {&AppState::readVersionButton, L"BUTTON", IdReadVersionButton, L"读取当前版本", kButton, 24, 264, 240, 36,
     SlotReadVersionButton, kNoFont, kNoLook},
    {&AppState::checkLatestButton, L"BUTTON", IdCheckLatestButton, L"获取最新版本", kButton, 300, 264, 240, 36,
     SlotCheckLatestButton, kNoFont, kNoLook},
    {&AppState::updateButton, L"BUTTON", IdUpdateButton, L"立即更新固件", kButton, 576, 264, 280, 36,
     SlotUpdateButton, kNoFont, kNoLook},
    {&AppState::statusLabel, L"STATIC", IdStatusLabel, L"就绪", kStatic, 24, 340, 840, 24, SlotStatusLabel,
     &AppState::statusFont, LabelKind::Status},
    {&AppState::progressBar, L"STATIC", IdProgressBar, nullptr, kOwnerDrawnStatic, 24, 374, 840, 20,
     SlotProgressBar, kNoFont, kNoLook},
};

HFONT MakeFont(const FontRow& f) {
    return CreateFontW(-f.pixelHeight, 0, 0, 0, f.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, f.face);
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
    for (const FontRow& f : kFonts) g_app.*f.handle = MakeFont(f);

    for (const ControlRow& c : kControls) {
        g_app.*c.handle = CreateWindowExW(0, c.className, c.text, c.style, c.x, c.y, c.width, c.height, window,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), g_app.instance,
                                          nullptr);
    }

    SetWindowTheme(g_app.portCombo, L"Explorer", nullptr);

    for (const ControlRow& c : kControls) {
        if (c.font != nullptr) SendMessageW(g_app.*c.handle, WM_SETFONT, reinterpret_cast<WPARAM>(g_app.*c.font), TRUE);
    }

    RECT client{};
    GetClientRect(window, &client);
    LayOutControls(client.right - client.left, client.bottom - client.top);
}

void LayOutControls(int32_t clientWidth, int32_t clientHeight) {
    g_app.cards = ComputeCardLayout(clientWidth, clientHeight);
    const ControlPlaces places = PlaceControls(g_app.cards);
    for (const ControlRow& c : kControls) {
        const ControlPlace& p = places[static_cast<size_t>(c.slot)];
        MoveWindow(g_app.*c.handle, p.x, p.y, p.width, p.height, TRUE);
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

LabelKind LabelKindOf(HWND label) {
    if (label == nullptr) return LabelKind::Other;
    for (const ControlRow& c : kControls) {
        if (g_app.*c.handle == label) return c.look;
    }
    return LabelKind::Other;
}

void DeleteFonts() {
    for (const FontRow& f : kFonts) {
        if (g_app.*f.handle != nullptr) DeleteObject(g_app.*f.handle);
        g_app.*f.handle = nullptr;
    }
}

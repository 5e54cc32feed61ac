#include "app/window.h"

#include <functional>
#include <string>
#include <utility>

#include "app/app_state.h"
#include "app/control_view.h"
#include "app/controls.h"
#include "app/messages.h"
#include "base/utf8.h"
#include "app/worker.h"
#include "update/version.h"
#include "device/tasks.h"
#include "serial/port_list.h"
#include "serial/serial_link.h"
#include "ui/label_backdrop.h"
#include "ui/painters.h"
#include "update/update_tasks.h"

const wchar_t kMainWindowClass[] = L"NORVA1MainWindow";
const wchar_t kMainWindowTitle[] = L"NORVA1 固件更新";

namespace {

constexpr int kLargeIconId = 107;
constexpr int kSmallIconId = 108;

void SetTextIfChanged(HWND control, const std::wstring& text) {
    wchar_t current[256] = {};
    const int length = GetWindowTextW(control, current, 256);
    if (length >= 0 && length < 255 && text == current) return;
    SetWindowTextW(control, text.c_str());
}

// Every task starts the same way; if no thread could be made, StartWorker has
// already cleared busy and the commands have to come back on screen.
void StartTask(std::function<void()> task) {
    g_app.busy = true;
    if (!StartWorker(g_app.mainWindow, std::move(task))) RefreshControls();
}

void Connect() {
    const LRESULT selection = SendMessageW(g_app.portCombo, CB_GETCURSEL, 0, 0);
    if (selection < 0) {
        PostStatus(L"请先选择串口。");
        return;
    }
    wchar_t name[64] = {};
    const LRESULT length = SendMessageW(g_app.portCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection), 0);
    if (length >= 0 && length < 64) {
        SendMessageW(g_app.portCombo, CB_GETLBTEXT, static_cast<WPARAM>(selection), reinterpret_cast<LPARAM>(name));
    }
    const std::wstring portName = name;
    std::wstring error;
    if (!OpenSerialPort(portName, error)) {
        PostStatus(L"连接失败: " + error);
    } else {
        PostStatus(L"已连接串口: " + portName);
        StartTask(DoSyncDeviceState);
    }
    RefreshControls();
}

void Disconnect() {
    CloseSerialPort();
    {
        SharedGuard guard(g_app.sharedLock);
        g_app.currentVersion.clear();
        g_app.latestVersion.clear();
        g_app.downloadUrl.clear();
    }
    g_app.progressPercent = 0;
    InvalidateRect(g_app.progressBar, nullptr, TRUE);
    PostStatus(L"串口已断开。");
    RefreshControls();
}

void HandleCommand(int id) {
    if (g_app.busy) return;
    switch (id) {
    case IdRefreshButton:
        RefreshPortList();
        PostStatus(L"串口列表已刷新。");
        return;
    case IdConnectButton:
        if (TakeSharedSnapshot().connected()) {
            Disconnect();
        } else {
            Connect();
        }
        return;
    default:
        break;
    }

    const SharedSnapshot state = TakeSharedSnapshot();
    if (!state.connected()) return;
    switch (id) {
    case IdReadVersionButton:
        StartTask(DoReadCurrentVersion);
        break;
    case IdCheckLatestButton:
        StartTask(DoCheckLatestVersion);
        break;
    case IdUpdateButton:
        StartTask(DoFirmwareUpdate);
        break;
    case IdMacroToggle:
        if (state.device.telemetryValid) {
            const bool on = !state.device.macroModeOn;
            StartTask([on] { DoSetMacroMode(on); });
        }
        break;
    case IdHidToggle:
        if (state.device.hidCtrlCfg != -1) {
            const bool enable = state.device.hidCtrlCfg != 1;
            StartTask([enable] { DoToggleHidControl(enable); });
        }
        break;
    default:
        break;
    }
}

void ShowStatus(LPARAM lParam) {
    std::wstring text;
    if (!TakePostedStatus(lParam, text)) return;
    SetWindowTextW(g_app.statusLabel, text.c_str());
    InvalidateRect(g_app.statusLabel, nullptr, TRUE);
}

void LayOut(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    ComputeLayout(client.right - client.left, client.bottom - client.top);
    ApplyLayout();
    InvalidateRect(window, nullptr, TRUE);
}

LRESULT DrawItem(const DRAWITEMSTRUCT* item) {
    if (item == nullptr) return 0;
    if (item->CtlType == ODT_BUTTON) {
        DrawOwnerButton(item);
        return TRUE;
    }
    if (item->CtlType == ODT_COMBOBOX && item->CtlID == IdPortCombo) {
        DrawPortCombo(item);
        return TRUE;
    }
    if (item->CtlType == ODT_STATIC && item->CtlID == IdProgressBar) {
        DrawProgressBar(item);
        return TRUE;
    }
    return 0;
}

void DeleteFonts() {
    for (HFONT AppState::*font : {&AppState::titleFont, &AppState::statusFont, &AppState::bodyFont,
                                  &AppState::versionFont, &AppState::verdictFont}) {
        if (g_app.*font != nullptr) DeleteObject(g_app.*font);
        g_app.*font = nullptr;
    }
}

}  // namespace

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kLargeIconId));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;  // WM_PAINT covers the whole client area
    wc.lpszClassName = kMainWindowClass;
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(kSmallIconId));
    return RegisterClassExW(&wc) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
    return CreateWindowExW(0, kMainWindowClass, kMainWindowTitle,
                           WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                           CW_USEDEFAULT, 920, 500, nullptr, nullptr, instance, nullptr);
}

void RefreshControls() {
    const SharedSnapshot state = TakeSharedSnapshot();
    ControlInputs in;
    in.connected = state.connected();
    in.busy = g_app.busy;
    in.portName = state.portName;
    in.device = state.device;
    in.latestKnown = !state.latestVersion.empty();
    in.newer = UpdateAvailable(state.device.currentVersion, state.latestVersion);
    const ControlView view = DeriveControlView(in);

    EnableWindow(g_app.refreshButton, view.refreshEnabled);
    EnableWindow(g_app.portCombo, view.comboEnabled);
    EnableWindow(g_app.connectButton, view.connectEnabled);
    EnableWindow(g_app.readVersionButton, view.readVersionEnabled);
    EnableWindow(g_app.checkLatestButton, view.checkLatestEnabled);
    EnableWindow(g_app.updateButton, view.updateEnabled);
    EnableWindow(g_app.macroToggle, view.macroEnabled);
    EnableWindow(g_app.hidToggle, view.hidEnabled);

    SendMessageW(g_app.macroToggle, BM_SETCHECK, view.macroChecked ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(g_app.hidToggle, BM_SETCHECK, view.hidChecked ? BST_CHECKED : BST_UNCHECKED, 0);

    SetTextIfChanged(g_app.connectButton, view.connectText);
    SetTextIfChanged(g_app.connStateLabel, view.connStateText);
    SetTextIfChanged(g_app.portLabel, view.portText);
    const std::string& current = state.device.currentVersion;
    SetTextIfChanged(g_app.currentVersionLabel, current.empty() ? L"--" : Utf8ToWide(current));
    SetTextIfChanged(g_app.latestVersionLabel,
                     state.latestVersion.empty() ? L"--" : Utf8ToWide(state.latestVersion));
    SetTextIfChanged(g_app.hidStateLabel, view.hidStateText);
    SetTextIfChanged(g_app.verdictLabel, view.verdictText);

    InvalidateRect(g_app.hidStateLabel, nullptr, TRUE);
    InvalidateRect(g_app.macroToggle, nullptr, TRUE);
    InvalidateRect(g_app.hidToggle, nullptr, TRUE);
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_app.mainWindow = window;
        CreateControls(window);
        RefreshPortList();
        RefreshControls();
        return 0;
    case WM_DESTROY:
        CloseSerialPort();
        DeleteFonts();
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        LayOut(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        PaintMainWindow(window, dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_DRAWITEM:
        return DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item == nullptr || item->CtlID != IdPortCombo) return 0;
        item->itemHeight = 30;
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        HWND label = reinterpret_cast<HWND>(lParam);
        HBRUSH brush = ColorStaticLabel(dc, label);
        // A transparent label paints no background, so a shorter new text would
        // leave the old one showing through: put the backdrop behind it first.
        if (brush == static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))) PaintBackdropBehind(window, label, dc);
        return reinterpret_cast<LRESULT>(brush);
    }
    case WM_COMMAND:
        HandleCommand(LOWORD(wParam));
        return 0;
    case WM_APP_STATUS:
        ShowStatus(lParam);
        return 0;
    case WM_APP_PROGRESS:
        g_app.progressPercent = ClampPostedProgress(wParam);
        InvalidateRect(g_app.progressBar, nullptr, TRUE);
        return 0;
    case WM_APP_REFRESH:
        RefreshControls();
        return 0;
    case WM_APP_TASK_DONE:
        g_app.busy = false;
        if (g_app.mainWindow != nullptr) PostMessageW(g_app.mainWindow, WM_APP_REFRESH, 0, 0);
        RefreshControls();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

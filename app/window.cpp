#include "app/window.h"

#include <string>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/controls.h"
#include "app/device_watch.h"
#include "app/refresh.h"
#include "app/shell_signals.h"
#include "device/device_state.h"
#include "task/messages.h"
#include "task/task_state.h"
#include "ui/label_backdrop.h"
#include "ui/painters.h"
#include "view/control_ids.h"
#include "view/icon_ids.h"

const wchar_t kMainWindowClass[] = L"NORVA1MainWindow";
const wchar_t kMainWindowTitle[] = L"NORVA1 固件更新";

namespace {

void ShowStatus(LPARAM lParam) {
    std::wstring text;
    if (!TakePostedStatus(lParam, text)) return;
    SetWindowTextW(g_app.statusLabel, text.c_str());
    InvalidateRect(g_app.statusLabel, nullptr, TRUE);
}

void ShowProgress(HWND window, WPARAM wParam) {
    g_app.progressPercent = ClampPostedProgress(wParam);
    InvalidateRect(g_app.progressBar, nullptr, TRUE);
    FollowUpdateProgress(window);
}

void Refresh(HWND window) {
    RefreshControls();
    FollowUpdateStage(window);
}

// The task's last texts and refreshes came before this message: one refresh
// now shows the state it left, with the commands back.
void TaskDone(HWND window) {
    g_task.busy = false;
    RefreshControls();
    TakeUpdateEnd(window);
    CatchUpAfterTask();
}

// One click is one command: an owner-drawn button also reports a double click
// (BN_DOUBLECLICKED) right after the click, which is no second command.
void Command(HWND window, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    ClearUpdateFailure(window);
    HandleCommand(LOWORD(wParam));
}

void LayOut(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    LayOutControls(client.right - client.left, client.bottom - client.top);
    InvalidateRect(window, nullptr, TRUE);
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    PaintMainWindow(window, dc, g_app.cards);
    EndPaint(window, &ps);
}

LRESULT DrawItem(const DRAWITEMSTRUCT* item) {
    if (item == nullptr) return 0;
    if (item->CtlType == ODT_BUTTON) {
        DrawOwnerButton(item, g_app.view);
        return TRUE;
    }
    if (item->CtlType == ODT_COMBOBOX && item->CtlID == IdPortCombo) {
        DrawPortCombo(item);
        return TRUE;
    }
    if (item->CtlType == ODT_STATIC && item->CtlID == IdProgressBar) {
        DrawProgressBar(item, g_app.progressPercent);
        return TRUE;
    }
    return 0;
}

LRESULT MeasureItem(MEASUREITEMSTRUCT* item) {
    if (item == nullptr || item->CtlID != IdPortCombo) return 0;
    item->itemHeight = 30;
    return TRUE;
}

LRESULT ColourLabel(HWND window, HDC dc, HWND label) {
    HBRUSH brush = ColorStaticLabel(dc, LabelKindOf(label), g_app.view);
    // A transparent label paints no background, so a shorter new text would
    // leave the old one showing through: put the backdrop behind it first.
    if (brush == static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))) PaintBackdropBehind(window, label, dc, g_app.cards);
    return reinterpret_cast<LRESULT>(brush);
}

void Create(HWND window) {
    g_task.mainWindow = window;
    OpenWindowToShell(window);
    CreateControls(window);
    RefreshPortList();
    RefreshControls();
    LookForBootloaderDrives(DriveNews::Always);
}

void Destroy() {
    CloseWindowToShell();
    CloseDevicePort();
    DeleteFonts();
    PostQuitMessage(0);
}

}  // namespace

void ConfigureProcess() { SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS); }

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(NORVA_ICON_LARGE));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;  // WM_PAINT covers the whole client area
    wc.lpszClassName = kMainWindowClass;
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(NORVA_ICON_SMALL));
    return RegisterClassExW(&wc) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
    return CreateWindowExW(0, kMainWindowClass, kMainWindowTitle,
                           WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                           CW_USEDEFAULT, 920, 500, nullptr, nullptr, instance, nullptr);
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: Create(window); return 0;
    case WM_DESTROY: Destroy(); return 0;
    case WM_SIZE: LayOut(window); return 0;
    case WM_PAINT: Paint(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_DRAWITEM: return DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_MEASUREITEM: return MeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
    case WM_CTLCOLORSTATIC: return ColourLabel(window, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_COMMAND: Command(window, wParam); return 0;
    case WM_DEVICECHANGE: FollowDeviceChange(wParam); return TRUE;
    case WM_APP_STATUS: ShowStatus(lParam); return 0;
    case WM_APP_PROGRESS: ShowProgress(window, wParam); return 0;
    case WM_APP_REFRESH: Refresh(window); return 0;
    case WM_APP_TASK_DONE: TaskDone(window); return 0;
    default: break;
    }
    LRESULT answer = 0;
    if (AnswerShellMessage(window, message, answer)) return answer;
    return DefWindowProcW(window, message, wParam, lParam);
}

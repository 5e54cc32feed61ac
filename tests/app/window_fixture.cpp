#include "tests/app/window_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/window.h"
#include "task/task_state.h"

namespace {
std::vector<std::wstring> g_statusHistory;
WNDPROC g_statusProc = nullptr;

// Sits in front of the status line's own procedure and notes every text it is given.
LRESULT CALLBACK RecordStatus(HWND label, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT && lParam != 0) g_statusHistory.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
    return CallWindowProcW(g_statusProc, label, message, wParam, lParam);
}
}  // namespace

TestMainWindow::TestMainWindow() {
    g_app.instance = GetModuleHandleW(nullptr);
    EXPECT_TRUE(RegisterMainWindowClass(g_app.instance));
    window_ = CreateMainWindow(g_app.instance);
    EXPECT_NE(window_, nullptr) << "CreateWindowExW failed, error " << GetLastError();
    if (window_ == nullptr) return;
    g_statusHistory.clear();
    g_statusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_app.statusLabel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordStatus)));
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

TestMainWindow::~TestMainWindow() {
    if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
    Drain();
}

void TestMainWindow::Command(int id) {
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
}

bool TestMainWindow::PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        Drain();
        if (condition()) return true;
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= timeoutMs) return false;
        // Wakes at least every 20 ms: what the screen shows comes with no message.
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(timeoutMs - elapsed, 20));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
    }
}

bool TestMainWindow::PumpUntilIdle(DWORD timeoutMs) {
    return PumpUntil([] { return !g_task.busy; }, timeoutMs);
}

void TestMainWindow::Drain() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

const std::vector<std::wstring>& TestMainWindow::statusHistory() const { return g_statusHistory; }

std::wstring TestMainWindow::Text(HWND control) const {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    return text;
}

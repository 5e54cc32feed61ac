#include "task/messages.h"

#include <memory>

#include "task/task_state.h"

void PostStatus(const std::wstring& text) {
    HWND window = g_task.mainWindow;
    if (window == nullptr) return;
    auto copy = std::make_unique<std::wstring>(text);
    if (PostMessageW(window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(copy.get()))) {
        copy.release();  // the window frees it
    }
    // A post that fails (the window is gone, its queue is full) leaves the string with us.
}

void PostProgress(int32_t percent) {
    HWND window = g_task.mainWindow;
    if (window == nullptr) return;
    PostMessageW(window, WM_APP_PROGRESS, static_cast<WPARAM>(static_cast<intptr_t>(percent)), 0);
}

void PostRefresh() {
    HWND window = g_task.mainWindow;
    if (window == nullptr) return;
    PostMessageW(window, WM_APP_REFRESH, 0, 0);
}

void BeginTask() {
    g_task.busy = true;
    PostRefresh();
}

bool TakePostedStatus(LPARAM lParam, std::wstring& text) {
    std::unique_ptr<std::wstring> owned(reinterpret_cast<std::wstring*>(lParam));
    if (!owned) return false;
    text = std::move(*owned);
    return true;
}

int32_t ClampPostedProgress(WPARAM wParam) {
    // The percent travelled as a signed 32-bit value widened to WPARAM.
    const auto value = static_cast<int32_t>(static_cast<intptr_t>(wParam));
    if (value < 0) return 0;
    if (value > 100) return 100;
    return value;
}

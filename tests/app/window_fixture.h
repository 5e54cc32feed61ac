#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The program's real main window, created inside the test process: the test's
// thread is the window thread, and it pumps messages while it waits.
class TestMainWindow {
public:
    TestMainWindow();
    ~TestMainWindow();
    TestMainWindow(const TestMainWindow&) = delete;
    TestMainWindow& operator=(const TestMainWindow&) = delete;

    HWND window() const { return window_; }

    // Sends WM_COMMAND as a click on the control would.
    void Command(int id);
    // Pumps this thread's messages until the condition holds or the time-out
    // passes, looking at it at least every 20 ms.
    bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);
    // Pumps until the running task has ended and its WM_APP_TASK_DONE is handled.
    bool PumpUntilIdle(DWORD timeoutMs);
    // Handles whatever is queued now.
    void Drain();

    // Every text the status line has shown since the window was created, in order.
    const std::vector<std::wstring>& statusHistory() const;
    std::wstring Text(HWND control) const;

private:
    HWND window_ = nullptr;
};

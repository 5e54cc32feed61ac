#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Stands in for the main window in tests of tasks: a message-only window on the
// test's thread that records what workers post to it, in order.
struct PostedEvent {
    enum Kind { Status, Progress, Refresh, TaskDone };
    Kind kind;
    std::wstring text;    // Status
    int32_t percent = 0;  // Progress, clamped as the window clamps it
    double atMs = 0;      // when it arrived, in milliseconds since the sink was made
};

class MessageSink {
public:
    // Creates the window and makes it TaskState::mainWindow.
    MessageSink();
    ~MessageSink();
    MessageSink(const MessageSink&) = delete;
    MessageSink& operator=(const MessageSink&) = delete;

    HWND window() const { return window_; }

    // Pumps this thread's messages until the condition holds or the time-out passes.
    bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);
    // Pumps until a WM_APP_TASK_DONE arrives (which clears busy, as the window does).
    bool PumpUntilDone(DWORD timeoutMs);

    const std::vector<PostedEvent>& events() const { return events_; }
    std::vector<std::wstring> Statuses() const;
    std::vector<int32_t> ProgressValues() const;
    int RefreshCount() const;
    // Every event as one line: L"refresh", L"status <text>", L"progress <n>", L"done".
    std::vector<std::wstring> Trace() const;
    int DoneCount() const;
    void Clear() { events_.clear(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Record(PostedEvent event);
    HWND window_ = nullptr;
    std::vector<PostedEvent> events_;
    LARGE_INTEGER created_{};
};

// Starts the task as the window does (busy set, then StartWorker) and pumps
// until it is done. A task that does not end within the time-out fails with its
// name and the last things it posted, so that a hang says where it stopped.
testing::AssertionResult RunTask(MessageSink& sink, const std::string& name, std::function<void()> task,
                                 DWORD timeoutMs = 60000);
// The same for one of the program's tasks (DoFirmwareUpdate, ...), named after it.
testing::AssertionResult RunTask(MessageSink& sink, void (*task)(), DWORD timeoutMs = 60000);

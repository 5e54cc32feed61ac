#include "tests/support/message_sink.h"

#include "device/tasks.h"
#include "task/messages.h"
#include "task/task_state.h"
#include "task/worker.h"
#include "update/workflow/update_tasks.h"

namespace {
const wchar_t kClassName[] = L"NorvaTestMessageSink";

void RegisterSinkClass(WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);  // fails harmlessly when already registered
}
}  // namespace

MessageSink::MessageSink() {
    RegisterSinkClass(&MessageSink::WindowProc);
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    g_task.mainWindow = window_;
    QueryPerformanceCounter(&created_);
}

void MessageSink::Record(PostedEvent event) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    event.atMs = 1000.0 * static_cast<double>(now.QuadPart - created_.QuadPart) / static_cast<double>(frequency.QuadPart);
    events_.push_back(std::move(event));
}

MessageSink::~MessageSink() {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

LRESULT CALLBACK MessageSink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* sink = reinterpret_cast<MessageSink*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (sink == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_APP_STATUS: {
        std::wstring text;
        if (TakePostedStatus(lParam, text)) sink->Record({PostedEvent::Status, text, 0, 0});
        return 0;
    }
    case WM_APP_PROGRESS:
        sink->Record({PostedEvent::Progress, L"", ClampPostedProgress(wParam), 0});
        return 0;
    case WM_APP_REFRESH:
        sink->Record({PostedEvent::Refresh, L"", 0, 0});
        return 0;
    case WM_APP_TASK_DONE:
        g_task.busy = false;
        sink->Record({PostedEvent::TaskDone, L"", 0, 0});
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool MessageSink::PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (condition()) return true;
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs - elapsed), QS_ALLINPUT);
    }
}

bool MessageSink::PumpUntilDone(DWORD timeoutMs) {
    const int before = DoneCount();
    return PumpUntil([&] { return DoneCount() > before; }, timeoutMs);
}

std::vector<std::wstring> MessageSink::Statuses() const {
    std::vector<std::wstring> texts;
    for (const auto& event : events_)
        if (event.kind == PostedEvent::Status) texts.push_back(event.text);
    return texts;
}

std::vector<int32_t> MessageSink::ProgressValues() const {
    std::vector<int32_t> values;
    for (const auto& event : events_)
        if (event.kind == PostedEvent::Progress) values.push_back(event.percent);
    return values;
}

std::vector<std::wstring> MessageSink::Trace() const {
    std::vector<std::wstring> lines;
    for (const auto& event : events_) {
        switch (event.kind) {
        case PostedEvent::Status: lines.push_back(L"status " + event.text); break;
        case PostedEvent::Progress: lines.push_back(L"progress " + std::to_wstring(event.percent)); break;
        case PostedEvent::Refresh: lines.push_back(L"refresh"); break;
        case PostedEvent::TaskDone: lines.push_back(L"done"); break;
        }
    }
    return lines;
}

int MessageSink::RefreshCount() const {
    int count = 0;
    for (const auto& event : events_) count += event.kind == PostedEvent::Refresh;
    return count;
}

int MessageSink::DoneCount() const {
    int count = 0;
    for (const auto& event : events_) count += event.kind == PostedEvent::TaskDone;
    return count;
}

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                            nullptr);
    }
    return bytes;
}

// The program's tasks by their function, so that a hang names the one that hung.
const char* TaskName(void (*task)()) {
    static const struct {
        void (*task)();
        const char* name;
    } kTasks[] = {
        {DoReadCurrentVersion, "DoReadCurrentVersion"}, {DoSyncDeviceState, "DoSyncDeviceState"},
        {DoCheckLatestVersion, "DoCheckLatestVersion"}, {DoFirmwareUpdate, "DoFirmwareUpdate"},
    };
    for (const auto& known : kTasks)
        if (known.task == task) return known.name;
    return "a task";
}

}  // namespace

testing::AssertionResult RunTask(MessageSink& sink, const std::string& name, std::function<void()> task,
                                 DWORD timeoutMs) {
    g_task.busy = true;
    if (!StartWorker(sink.window(), std::move(task))) {
        return testing::AssertionFailure() << "no thread could be started for " << name;
    }
    if (sink.PumpUntilDone(timeoutMs)) return testing::AssertionSuccess();
    auto failure = testing::AssertionFailure();
    failure << name << " did not end within " << timeoutMs << " ms; ";
    const std::vector<std::wstring> trace = sink.Trace();
    if (trace.empty()) return failure << "it posted nothing (did its thread ever run?)";
    failure << "the last it posted:";
    for (size_t i = trace.size() > 3 ? trace.size() - 3 : 0; i < trace.size(); ++i) failure << " [" << Utf8(trace[i]) << "]";
    return failure;
}

testing::AssertionResult RunTask(MessageSink& sink, void (*task)(), DWORD timeoutMs) {
    return RunTask(sink, TaskName(task), task, timeoutMs);
}

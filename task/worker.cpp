#include "task/worker.h"

#include <process.h>

#include <memory>
#include <new>
#include <utility>

#include "base/wait.h"
#include "task/messages.h"
#include "task/task_state.h"

namespace {

struct WorkerStart {
    HWND window;
    std::function<void()> task;
};

constexpr DWORD kRetryPostMs = 20;

// The task's end reaches the window whatever happened in it: the commands come
// back only with WM_APP_TASK_DONE, so its post is tried again while the
// window's queue is full, until it is delivered or the window is gone.
void PostTaskDone(HWND window) {
    while (!PostMessageW(window, WM_APP_TASK_DONE, 0, 0)) {
        if (!IsWindow(window)) return;
        Pause(kRetryPostMs);
    }
}

// A task reports its failures as status texts; what it lets out anyway (the
// system out of memory, a fault in the program) ends it with a text of its own
// instead of ending the program.
void RunGuarded(const std::function<void()>& task) {
    const wchar_t* failure = nullptr;
    try {
        task();
    } catch (const std::bad_alloc&) {
        failure = L"操作失败: 内存不足";
    } catch (...) {
        failure = L"操作失败";
    }
    if (failure == nullptr) return;
    try {
        PostStatus(failure);
    } catch (...) {
        // Not even the text could be had; the task's end is still posted.
    }
}

unsigned __stdcall RunWorker(void* argument) {
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(argument));
    RunGuarded(start->task);
    PostTaskDone(start->window);
    return 0;
}

}  // namespace

ThreadCalls ThreadCalls::System() { return ThreadCalls{::_beginthreadex}; }

bool StartWorker(HWND window, std::function<void()> task) {
    auto start = std::make_unique<WorkerStart>(WorkerStart{window, std::move(task)});
    const uintptr_t thread = CallsInUse<ThreadCalls>().beginThread(nullptr, 0, RunWorker, start.get(), 0, nullptr);
    if (thread == 0) {
        // No thread: nothing will ever post WM_APP_TASK_DONE, so give the commands back now.
        g_task.busy = false;
        return false;
    }
    start.release();  // the worker owns it now
    // Detached: nobody waits for the thread, so its handle is not kept.
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

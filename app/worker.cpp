#include "app/worker.h"

#include <process.h>

#include <memory>
#include <utility>

#include "app/app_state.h"
#include "app/messages.h"

namespace {

struct WorkerStart {
    HWND window;
    std::function<void()> task;
};

unsigned __stdcall RunWorker(void* argument) {
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(argument));
    start->task();
    PostMessageW(start->window, WM_APP_TASK_DONE, 0, 0);
    return 0;
}

}  // namespace

ThreadCalls ThreadCalls::System() { return ThreadCalls{::_beginthreadex}; }

bool StartWorker(HWND window, std::function<void()> task) {
    auto start = std::make_unique<WorkerStart>(WorkerStart{window, std::move(task)});
    const uintptr_t thread = CallsInUse<ThreadCalls>().beginThread(nullptr, 0, RunWorker, start.get(), 0, nullptr);
    if (thread == 0) {
        // No thread: nothing will ever post WM_APP_TASK_DONE, so give the commands back now.
        g_app.busy = false;
        return false;
    }
    start.release();  // the worker owns it now
    // Detached: nobody waits for the thread, so its handle is not kept.
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

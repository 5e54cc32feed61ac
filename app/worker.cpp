#include "app/worker.h"

#include <system_error>
#include <thread>
#include <utility>

#include "app/app_state.h"
#include "app/messages.h"

namespace {
void LaunchDetachedThread(std::function<void()> body) { std::thread(std::move(body)).detach(); }
}  // namespace

ThreadLauncher& WorkerThreadLauncher() {
    static ThreadLauncher launcher = LaunchDetachedThread;
    return launcher;
}

void BeginTask() {
    g_app.busy = true;
    PostRefresh();
}

bool StartWorker(HWND window, std::function<void()> task) {
    try {
        WorkerThreadLauncher()([window, task = std::move(task)]() {
            task();
            PostMessageW(window, WM_APP_TASK_DONE, 0, 0);
        });
        return true;
    } catch (const std::system_error&) {
        // No thread: nothing will ever post WM_APP_TASK_DONE, so give the commands back now.
        g_app.busy = false;
        return false;
    }
}

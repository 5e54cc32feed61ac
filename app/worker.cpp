#include "app/worker.h"

#include <system_error>
#include <thread>
#include <utility>

#include "app/app_state.h"
#include "app/messages.h"

void BeginTask() {
    g_app.busy = true;
    PostRefresh();
}

bool StartWorker(HWND window, std::function<void()> task) {
    try {
        std::thread([window, task = std::move(task)]() {
            task();
            PostMessageW(window, WM_APP_TASK_DONE, 0, 0);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        // No thread: nothing will ever post WM_APP_TASK_DONE, so give the commands back now.
        g_app.busy = false;
        return false;
    }
}

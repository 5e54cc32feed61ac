#pragma once

#include <windows.h>

#include <atomic>

// What a worker thread and the window share about the running task, and
// nothing more: where a worker posts its reports, and the busy rule.
//
// Lifetime: the instance is created before the entry point runs and is never
// destroyed, so a task still running while the process ends never touches a
// destroyed object.
struct TaskState {
    // The main window, set first thing on WM_CREATE and kept after WM_DESTROY:
    // posts from a task still running then go to a window that no longer
    // exists and are lost. The posting routines drop everything while it is null.
    HWND mainWindow = nullptr;

    // A task is running. Set by the window and by the task, cleared by the window alone.
    std::atomic<bool> busy{false};
};

extern TaskState& g_task;

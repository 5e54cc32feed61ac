#pragma once

#include <windows.h>

#include <functional>

// Runs the task on a new detached thread; when it returns, posts WM_APP_TASK_DONE
// to the window. Returns false (and clears AppState::busy, so the commands come
// back) when no thread could be started.
bool StartWorker(HWND window, std::function<void()> task);

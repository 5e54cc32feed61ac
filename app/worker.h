#pragma once

#include <windows.h>

#include <functional>

// Runs the task on a new detached thread; when it returns, posts WM_APP_TASK_DONE
// to the window. Returns false (and clears AppState::busy, so the commands come
// back) when no thread could be started.
bool StartWorker(HWND window, std::function<void()> task);

// Every task's first steps, on its worker thread: mark the program busy (again)
// and have the window grey out its commands.
void BeginTask();

// How StartWorker starts a detached thread running `body`. It throws
// std::system_error when the system has no thread to give, as std::thread does;
// a test puts a launcher here that always does.
using ThreadLauncher = void (*)(std::function<void()> body);
ThreadLauncher& WorkerThreadLauncher();

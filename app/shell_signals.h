#pragma once

#include <windows.h>

// What the window tells the shell while a firmware update runs, all on the
// window thread: the update's progress on the taskbar button (the percentage
// while the download or the copy moves, an indeterminate state while the
// update waits, the error state after an update that failed once its download
// had begun, until the user's next command), the button flashing when an
// update ends behind other windows, and the answer to Explorer's AutoPlay
// question while an update runs. Other tasks leave the button as it is.

// WM_CREATE: lets the shell's "TaskbarButtonCreated" and "QueryCancelAutoPlay"
// through the filter that keeps the messages of programs that are not
// elevated from this elevated window.
void OpenWindowToShell(HWND window);

// The shell's registered messages: "TaskbarButtonCreated" (the button exists,
// again after Explorer restarted: it gets what the update shows now) and
// "QueryCancelAutoPlay" (TRUE while an update runs, so that no AutoPlay window
// opens over this one for the boot loader's drive). False for any other
// message, and for the AutoPlay question while no update runs: the default
// answers it.
bool AnswerShellMessage(HWND window, UINT message, LRESULT& result);

// WM_APP_REFRESH: the update's stage as the task left it.
void FollowUpdateStage(HWND window);
// WM_APP_PROGRESS, once the progress bar took the new value.
void FollowUpdateProgress(HWND window);
// WM_APP_TASK_DONE: how the update ended, if the task was one.
void TakeUpdateEnd(HWND window);
// The user's command: an update's error state has been seen.
void ClearUpdateFailure(HWND window);
// WM_DESTROY: the taskbar button's object is let go.
void CloseWindowToShell();

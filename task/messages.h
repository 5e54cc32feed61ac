#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Messages by which a worker reports to the window. They are posted, never sent.
constexpr UINT WM_APP_STATUS = WM_APP + 1;     // lParam: heap-allocated std::wstring*, owned by the window once posted
constexpr UINT WM_APP_PROGRESS = WM_APP + 2;   // wParam: percent, a signed 32-bit value
constexpr UINT WM_APP_REFRESH = WM_APP + 3;    // the window re-derives its controls from what the program knows
constexpr UINT WM_APP_TASK_DONE = WM_APP + 4;  // a task has returned; the window clears busy

// Each does nothing while TaskState::mainWindow is null. Tasks post from their
// worker thread; the window posts its own texts (connect, disconnect) too.
void PostStatus(const std::wstring& text);
void PostProgress(int32_t percent);
void PostRefresh();

// Every task's first steps, on its worker thread: mark the program busy (again)
// and have the window grey out its commands. Only the window clears busy, when
// WM_APP_TASK_DONE arrives, so no second task can start meanwhile.
void BeginTask();

// The window's side of WM_APP_STATUS: takes ownership of the posted string,
// moves its text into `text` and frees it. False (and `text` untouched) for a
// null lParam.
bool TakePostedStatus(LPARAM lParam, std::wstring& text);

// The window's side of WM_APP_PROGRESS: the percent, clamped to 0..100.
int32_t ClampPostedProgress(WPARAM wParam);

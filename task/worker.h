#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "base/system_calls.h"

// Runs the task on a new detached thread; when it returns, posts WM_APP_TASK_DONE
// to the window (again and again while the window's queue is full). A task that
// lets an exception out ends with "操作失败: 内存不足" (out of memory) or
// "操作失败". Returns false (and clears TaskState::busy, so the commands come
// back) when no thread could be started.
bool StartWorker(HWND window, std::function<void()> task);

// The one system call StartWorker makes to get a thread (base/system_calls.h):
// a test puts a call here that refuses, as the system does when it has no
// thread to give.
//
// Workers are started with the C runtime's own thread call, not std::thread:
// MinGW's POSIX thread library recycles the record of a detached thread that
// has ended while that thread is still running its exit hooks, and a thread
// started at that moment can be handed the recycled record and silently never
// run its task. A worker that never runs never posts WM_APP_TASK_DONE, and the
// window would stay greyed out for good.
struct ThreadCalls {
    uintptr_t (*beginThread)(void* security, unsigned stackSize, unsigned(__stdcall* start)(void*), void* argument,
                             unsigned flags, unsigned* threadId);

    static ThreadCalls System();
};

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "task/messages.h"
#include "task/task_state.h"
#include "task/worker.h"
#include "tests/support/calls_override.h"
#include "tests/support/message_sink.h"

// What workers post reaches the window in order, and the window's side clamps
// and frees as it must.

namespace {
// Blocks allocated with operator new and not yet freed by the thread being watched.
DWORD g_countedThread = 0;
long g_liveBlocks = 0;
}  // namespace

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    if (GetCurrentThreadId() == g_countedThread) ++g_liveBlocks;
    return block;
}

void operator delete(void* block) noexcept {
    if (block == nullptr) return;
    if (GetCurrentThreadId() == g_countedThread) --g_liveBlocks;
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

TEST(PostedMessages, AreDroppedWhileThereIsNoMainWindow) {
    g_task.mainWindow = nullptr;
    PostStatus(L"lost");
    PostProgress(10);
    PostRefresh();
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP_STATUS, WM_APP_TASK_DONE, PM_REMOVE));
}

TEST(PostedMessages, ArriveInOrderWithTheExactText) {
    MessageSink sink;
    PostStatus(L"正在同步设备状态...");
    PostProgress(-5);
    PostProgress(250);
    PostProgress(42);
    PostRefresh();
    PostStatus(L"");
    ASSERT_TRUE(sink.PumpUntil([&] { return sink.events().size() == 6; }, 2000));
    EXPECT_EQ(sink.Statuses(), (std::vector<std::wstring>{L"正在同步设备状态...", L""}));
    EXPECT_EQ(sink.ProgressValues(), (std::vector<int32_t>{0, 100, 42}));
    EXPECT_EQ(sink.RefreshCount(), 1);
}

// A post to a window that is gone fails, and the sender frees the string the
// window would have freed; one that arrives leaves it to the window.
TEST(PostedMessages, StatusToAVanishedWindowIsFreedNotLeaked) {
    HWND live = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    ASSERT_FALSE(IsWindow(gone));
    g_countedThread = GetCurrentThreadId();
    const long before = g_liveBlocks;

    g_task.mainWindow = gone;
    for (int i = 0; i < 100; ++i) PostStatus(L"nobody will ever read this text");
    const long afterLostPosts = g_liveBlocks;

    // A post that arrives leaves its string allocated until the window takes it.
    g_task.mainWindow = live;
    PostStatus(L"somebody reads this text");
    const long whilePosted = g_liveBlocks;
    MSG msg{};
    const bool arrived = PeekMessageW(&msg, live, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE);
    bool taken = false;
    {
        std::wstring text;
        taken = arrived && TakePostedStatus(msg.lParam, text) && text == L"somebody reads this text";
    }
    const long afterTaken = g_liveBlocks;
    g_countedThread = 0;
    g_task.mainWindow = nullptr;
    DestroyWindow(live);

    EXPECT_EQ(afterLostPosts, before) << "blocks left behind by 100 posts to a destroyed window";
    EXPECT_GT(whilePosted, before);
    EXPECT_TRUE(taken);
    EXPECT_EQ(afterTaken, before);
}

TEST(StartWorker, PostsTaskDoneAfterTheTaskReturnsAndAfterItsLastStatus) {
    MessageSink sink;
    ASSERT_TRUE(RunTask(sink, "a task that posts", [] {
        g_task.busy = true;
        PostRefresh();
        PostStatus(L"first");
        PostStatus(L"last");
    }));
    ASSERT_EQ(sink.events().size(), 4u);
    EXPECT_EQ(sink.events()[2].text, L"last");
    EXPECT_EQ(sink.events()[3].kind, PostedEvent::TaskDone);
    EXPECT_FALSE(g_task.busy);
}

// Tasks that end at once, each started as soon as the last has reported: a
// thread that ends while the next one is being started is where a thread
// library that recycles the records of detached threads loses the new thread's
// task. Other threads keep the system busy meanwhile, as other programs would,
// so that ending threads linger in their exit hooks.
TEST(StartWorker, ReportsAnyNumberOfTasksOneAfterAnother) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < 4; ++i) {
        busy.emplace_back([&stop] {
            while (!stop) CloseHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        });
    }
    MessageSink sink;
    int done = 0;
    for (; done < 1500; ++done) {
        if (!RunTask(sink, "task " + std::to_string(done), [] {}, 3000)) break;
    }
    stop = true;
    for (std::thread& thread : busy) thread.join();
    EXPECT_EQ(done, 1500) << "task " << done << " never reported that it had ended";
    EXPECT_EQ(sink.DoneCount(), done);
}

// A task that lets an exception out still ends as a task: with a text of its
// own, and with WM_APP_TASK_DONE, so the commands come back.
TEST(StartWorker, ATaskThatThrowsEndsWithItsTextAndTheTaskDone) {
    MessageSink sink;
    ASSERT_TRUE(RunTask(sink, "a task out of memory", [] {
        PostStatus(L"working");
        throw std::bad_alloc();
    }));
    ASSERT_TRUE(RunTask(sink, "a task that fails", [] { throw std::runtime_error("broken"); }));
    EXPECT_EQ(sink.Trace(), (std::vector<std::wstring>{L"status working", L"status 操作失败: 内存不足", L"done",
                                                       L"status 操作失败", L"done"}));
    EXPECT_FALSE(g_task.busy);
}

// The end of a task is posted again and again while it cannot be delivered,
// but not for ever: a window that is gone ends the worker.
TEST(StartWorker, AWorkerWhoseWindowIsGoneEnds) {
    static HANDLE worker;
    worker = nullptr;
    CallsOverride<ThreadCalls> threads;
    threads->beginThread = [](void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* argument,
                              unsigned flags, unsigned* id) -> uintptr_t {
        const uintptr_t thread = ThreadCalls::System().beginThread(security, stack, start, argument, flags, id);
        DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(thread), GetCurrentProcess(), &worker, SYNCHRONIZE,
                        FALSE, 0);
        return thread;
    };
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    ASSERT_TRUE(StartWorker(gone, [] {}));
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(WaitForSingleObject(worker, 5000), WAIT_OBJECT_0);
    CloseHandle(worker);
}

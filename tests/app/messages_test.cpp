#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/messages.h"
#include "app/worker.h"
#include "tests/support/message_sink.h"

// What workers post reaches the window in order, and the window's side clamps
// and frees as it must.

TEST(PostedMessages, AreDroppedWhileThereIsNoMainWindow) {
    g_app.mainWindow = nullptr;
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

TEST(PostedMessages, StatusWithNullTextIsIgnored) {
    std::wstring text = L"unchanged";
    EXPECT_FALSE(TakePostedStatus(0, text));
    EXPECT_EQ(text, L"unchanged");
}

TEST(PostedMessages, StatusToAVanishedWindowDoesNotLeakOrCrash) {
    // A window that no longer exists: PostMessageW fails and the sender keeps the string.
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    g_app.mainWindow = gone;
    for (int i = 0; i < 1000; ++i) PostStatus(L"nobody reads this");
    g_app.mainWindow = nullptr;
}

TEST(StartWorker, PostsTaskDoneAfterTheTaskReturnsAndAfterItsLastStatus) {
    MessageSink sink;
    ASSERT_TRUE(RunTask(sink, "a task that posts", [] {
        g_app.busy = true;
        PostRefresh();
        PostStatus(L"first");
        PostStatus(L"last");
    }));
    ASSERT_EQ(sink.events().size(), 4u);
    EXPECT_EQ(sink.events()[2].text, L"last");
    EXPECT_EQ(sink.events()[3].kind, PostedEvent::TaskDone);
    EXPECT_FALSE(g_app.busy);
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

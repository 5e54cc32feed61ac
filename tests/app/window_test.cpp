#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <cerrno>

#include "app/app_state.h"
#include "app/window.h"
#include "serial/comm_calls.h"
#include "task/task_state.h"
#include "task/worker.h"
#include "tests/app/window_fixture.h"
#include "tests/support/calls_override.h"
#include "tests/support/known_state.h"
#include "tests/support/shortened_waits.h"
#include "tests/support/sim_client.h"
#include "view/control_ids.h"

// Command dispatch on the window thread, watched from inside: every text the
// status line shows (some last only an instant), and the enable states at the
// moment a command returns. The rest of the window's behaviour is driven from
// outside in tests/e2e.

namespace {

std::vector<HWND> CommandControls() {
    return {g_app.refreshButton, g_app.portCombo,    g_app.connectButton, g_app.readVersionButton,
            g_app.checkLatestButton, g_app.updateButton, g_app.macroToggle,   g_app.hidToggle};
}

bool SelectPort(const std::wstring& name) {
    const LRESULT index = SendMessageW(g_app.portCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(name.c_str()));
    return index >= 0 && SendMessageW(g_app.portCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == index;
}

// Picks the device's port and connects, as a user would, and waits until the sync has ended.
testing::AssertionResult ConnectAndSync(TestMainWindow& main, const SimDevice& device) {
    if (!device.plugged()) return testing::AssertionFailure() << "the simulated device is not plugged";
    if (!SelectPort(device.port())) return testing::AssertionFailure() << "the port is not listed";
    main.Command(IdConnectButton);
    if (!main.PumpUntilIdle(10000)) return testing::AssertionFailure() << "the sync did not end";
    return testing::AssertionSuccess();
}

}  // namespace

TEST(WindowCommands, ConnectNamesThePortThenSyncsWithEveryCommandDisabledUntilItEnds) {
    SimDevice device("app=1 hid_cfg=0 reply_delay_ms=300");
    ASSERT_TRUE(device.plugged());
    TestMainWindow main;
    ASSERT_TRUE(SelectPort(device.port()));

    main.Command(IdConnectButton);
    // The refresh at the end of the connect already sees the sync task running.
    for (HWND control : CommandControls()) EXPECT_FALSE(IsWindowEnabled(control));
    EXPECT_EQ(main.Text(g_app.connectButton), L"断开连接");
    EXPECT_EQ(main.Text(g_app.portLabel), L"串口: " + device.port());

    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    EXPECT_EQ(main.statusHistory(),
              (std::vector<std::wstring>{L"已连接串口: " + device.port(), L"正在同步设备状态...", L"设备状态已同步。"}));
    EXPECT_TRUE(IsWindowEnabled(g_app.macroToggle));
    EXPECT_TRUE(IsWindowEnabled(g_app.hidToggle));
    EXPECT_TRUE(IsWindowEnabled(g_app.readVersionButton));
    EXPECT_FALSE(IsWindowEnabled(g_app.portCombo));
    EXPECT_FALSE(IsWindowEnabled(g_app.updateButton));
    EXPECT_EQ(main.Text(g_app.hidStateLabel), L"已关闭");

    // Refreshing the list while connected leaves the port choice locked.
    main.Command(IdRefreshButton);
    main.Drain();
    EXPECT_EQ(main.statusHistory().back(), L"串口列表已刷新。");
    EXPECT_FALSE(IsWindowEnabled(g_app.portCombo));
}

TEST(WindowCommands, ATaskWhoseThreadCannotBeStartedGivesTheCommandsBack) {
    SimDevice device("app=1 hid_cfg=0");
    TestMainWindow main;
    ASSERT_TRUE(ConnectAndSync(main, device));
    ASSERT_TRUE(IsWindowEnabled(g_app.readVersionButton));

    CallsOverride<ThreadCalls> threads;
    // As the system answers when it has no thread to give.
    threads->beginThread = [](void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) -> uintptr_t {
        errno = EAGAIN;
        return 0;
    };
    main.Command(IdReadVersionButton);
    EXPECT_FALSE(g_task.busy);
    for (HWND control : {g_app.readVersionButton, g_app.checkLatestButton, g_app.connectButton, g_app.macroToggle}) {
        EXPECT_TRUE(IsWindowEnabled(control));
    }
    // Once threads can be had again, the same command works.
    threads.Restore();
    main.Command(IdReadVersionButton);
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    EXPECT_EQ(main.statusHistory().back(), L"当前固件版本: 1.0.0");
}

// The window passes over device messages while a task runs; when the task
// ends it looks once at what it missed. (Wine sends no device messages at all.)
TEST(WindowCommands, ADeviceUnpluggedDuringATaskIsDisconnectedWhenTheTaskEnds) {
    SimDevice device("app=1 hid_cfg=0");
    TestMainWindow main;
    ASSERT_TRUE(ConnectAndSync(main, device));

    device.Set("mute=1");  // the version read waits for an answer that never comes
    main.Command(IdReadVersionButton);
    device.Unplug();
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    const std::vector<std::wstring>& history = main.statusHistory();
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[history.size() - 2].rfind(L"读取当前版本失败: ", 0), 0u);
    EXPECT_EQ(history.back(), L"设备已拔出，串口已断开。");
    EXPECT_EQ(main.Text(g_app.connStateLabel), L"未连接");
    EXPECT_TRUE(IsWindowEnabled(g_app.portCombo));
    EXPECT_FALSE(IsWindowEnabled(g_app.readVersionButton));
}

// A device that does not come back from its HID switch is let go of as after an
// unplug: nothing known about it stays on show, the release it was checked
// against included.
TEST(WindowCommands, ADeviceLostInItsHidSwitchLeavesNothingKnownOnShow) {
    ShortenedWaits waits(8);
    SimDevice device("fw=1.4.0 hid_cfg=1 reenum_return=never reenum_ms=" + std::to_string(waits.RealMs(300)));
    TestMainWindow main;
    ASSERT_TRUE(ConnectAndSync(main, device));
    KnowVersions("1.4.0", "1.5.0", "http://127.0.0.1/fw.uf2");
    main.Command(IdHidToggle);
    ASSERT_TRUE(main.PumpUntilIdle(45000));
    main.Drain();
    EXPECT_EQ(main.statusHistory().back(), L"设备重枚举后未能自动重连，请手动重新连接。");
    EXPECT_EQ(main.Text(g_app.connStateLabel), L"未连接");
    EXPECT_EQ(main.Text(g_app.currentVersionLabel), L"--");
    EXPECT_EQ(main.Text(g_app.latestVersionLabel), L"--");
    EXPECT_EQ(main.Text(g_app.verdictLabel), L"等待检查");
}

// On Windows a device that drops off the bus (a loose cable, a reset) usually
// comes back under the same COM name at once, while the handle to the old port
// is dead for good: a port listed again is no port to stay connected to.
// Replugged while a task runs, the device is let go of when the task ends...
TEST(WindowCommands, ADeviceRepluggedUnderItsNameDuringATaskIsDisconnectedWhenTheTaskEnds) {
    SimDevice device("app=1 hid_cfg=0");
    TestMainWindow main;
    ASSERT_TRUE(ConnectAndSync(main, device));

    // The version read waits at its first look at the port until the device
    // has been unplugged and plugged in again.
    static HANDLE reading;
    static HANDLE replugged;
    static DWORD windowThread;
    reading = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    replugged = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    windowThread = GetCurrentThreadId();
    CallsOverride<CommCalls> comm;
    comm->clearCommError = [](HANDLE port, LPDWORD errors, LPCOMSTAT status) -> BOOL {
        if (GetCurrentThreadId() != windowThread) {
            SetEvent(reading);
            WaitForSingleObject(replugged, 10000);
        }
        return CommCalls::System().clearCommError(port, errors, status);
    };
    main.Command(IdReadVersionButton);
    ASSERT_EQ(WaitForSingleObject(reading, 5000), WAIT_OBJECT_0);
    device.Unplug();
    device.Replug();
    ASSERT_TRUE(device.plugged());
    SetEvent(replugged);
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    EXPECT_EQ(main.statusHistory().back(), L"设备已拔出，串口已断开。");
    EXPECT_EQ(main.Text(g_app.connStateLabel), L"未连接");
    EXPECT_TRUE(IsWindowEnabled(g_app.portCombo));
    CloseHandle(reading);
    CloseHandle(replugged);
}

// ... and replugged while the window waits, when the device message comes.
// (Wine sends none: the test sends the one Windows would.)
TEST(WindowCommands, ADeviceRepluggedUnderItsNameWhileIdleIsDisconnectedOnTheDeviceMessage) {
    SimDevice device("app=1 hid_cfg=0");
    TestMainWindow main;
    ASSERT_TRUE(ConnectAndSync(main, device));
    device.Unplug();
    device.Replug();
    ASSERT_TRUE(device.plugged());
    SendMessageW(main.window(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    main.Drain();
    EXPECT_EQ(main.statusHistory().back(), L"设备已拔出，串口已断开。");
    EXPECT_EQ(main.Text(g_app.connStateLabel), L"未连接");
    EXPECT_EQ(main.Text(g_app.portLabel), L"串口: --");
    // The port that came back is the device's: connecting again works.
    ASSERT_TRUE(ConnectAndSync(main, device));
    EXPECT_EQ(main.Text(g_app.connStateLabel), L"已连接");
    EXPECT_EQ(main.statusHistory().back(), L"设备状态已同步。");
}

// Looking at a drive without media must fail quietly, not show the system's "no disk" box.
TEST(Process, CriticalErrorBoxesAreLeftToTheProgram) {
    SetErrorMode(0);
    ConfigureProcess();
    EXPECT_NE(GetErrorMode() & SEM_FAILCRITICALERRORS, 0u);
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock_calls.h"
#include "device/device_state.h"
#include "device/tasks.h"
#include "device/waits.h"
#include "serial/comm_calls.h"
#include "serial/serial_link.h"
#include "task/task_state.h"
#include "tests/support/device_helpers.h"
#include "tests/support/known_state.h"
#include "tests/support/message_sink.h"
#include "tests/support/shortened_waits.h"
#include "tests/support/sim_client.h"

// The four device tasks, run as the window runs them, against a simulated
// device; the test stands in for the window and checks what each task posts,
// in order, and the state it leaves.

namespace {

using Trace = std::vector<std::wstring>;

class DeviceTask : public ::testing::Test {
protected:
    void Open(SimDevice& device) { ASSERT_TRUE(OpenDevice(device)); }
    void Run(std::function<void()> task) {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(RunTask(sink, "the task of " + test, std::move(task)));
    }
    void TearDown() override { CloseDevicePort(); }
    MessageSink sink;
    CallsOverride<CommCalls> comm;
};

}  // namespace

TEST_F(DeviceTask, ReadVersionStoresAndShowsTheVersion) {
    SimDevice device("fw=1.2.0");
    Open(device);
    Run(DoReadCurrentVersion);
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在读取当前固件版本...", L"progress 0",
                                   L"status 当前固件版本: 1.2.0", L"refresh", L"done"}));
    EXPECT_EQ(TakeSharedSnapshot().device.currentVersion, "1.2.0");
    EXPECT_FALSE(g_task.busy);
}

TEST_F(DeviceTask, ReadVersionShowsAUtf8VersionAsText) {
    SimDevice device("fw=2.0-\xe6\xb5\x8b\xe8\xaf\x95");  // "测试"
    Open(device);
    Run(DoReadCurrentVersion);
    EXPECT_EQ(sink.Statuses().back(), L"当前固件版本: 2.0-测试");
}

TEST_F(DeviceTask, AFailedVersionReadKeepsThePreviousVersion) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    StoreDeviceVersion("1.0.0");
    Run(DoReadCurrentVersion);
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在读取当前固件版本...", L"progress 0",
                                   L"status 读取当前版本失败: 读取固件版本超时", L"done"}));
    EXPECT_EQ(TakeSharedSnapshot().device.currentVersion, "1.0.0");
    EXPECT_TRUE(TakeSharedSnapshot().connected);
}

TEST_F(DeviceTask, ReadVersionWithoutAPort) {
    Run(DoReadCurrentVersion);
    EXPECT_EQ(sink.Statuses().back(), L"读取当前版本失败: 串口未连接");
}

TEST_F(DeviceTask, SyncReadsOneRecordIntoTheState) {
    SimDevice device("fw=1.1.0 app=1 hid_cfg=1");
    Open(device);
    Run(DoSyncDeviceState);
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在同步设备状态...", L"status 设备状态已同步。",
                                   L"refresh", L"done"}));
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_TRUE(shared.device.telemetryValid);
    EXPECT_TRUE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
}

TEST_F(DeviceTask, SyncWithASilentDeviceFails) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    Run(DoSyncDeviceState);
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在同步设备状态...",
                                   L"status 同步设备状态失败: 等待设备响应超时", L"done"}));
    EXPECT_FALSE(TakeSharedSnapshot().device.telemetryValid);
}

TEST_F(DeviceTask, MacroModeSwitchesOnAndOff) {
    SimDevice device("app=0");
    Open(device);
    Run([] { DoSetMacroMode(true); });
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在开启宏模式...", L"status 宏模式已开启。",
                                   L"refresh", L"done"}));
    EXPECT_TRUE(TakeSharedSnapshot().device.macroModeOn);
    EXPECT_EQ(device.State()["app"], "1");
    EXPECT_EQ(device.Received().rfind("app.mode(1)\ntelemetry.once\n", 0), 0u);

    sink.Clear();
    Run([] { DoSetMacroMode(false); });
    EXPECT_EQ(sink.Statuses(), (Trace{L"正在关闭宏模式...", L"宏模式已关闭。"}));
    EXPECT_FALSE(TakeSharedSnapshot().device.macroModeOn);
    EXPECT_TRUE(TakeSharedSnapshot().device.telemetryValid);
}

TEST_F(DeviceTask, MacroModeTakesTheRequestedStateWhateverTheRecordSays) {
    SimDevice device("mute=1");
    Open(device);
    Responder answer(device, "telemetry.once\n", "TEL|fw=1.0.0;app=0\r\n");
    Run([] { DoSetMacroMode(true); });
    EXPECT_EQ(sink.Statuses().back(), L"宏模式已开启。");
    EXPECT_TRUE(TakeSharedSnapshot().device.macroModeOn);
    EXPECT_TRUE(TakeSharedSnapshot().device.telemetryValid);
}

TEST_F(DeviceTask, MacroModeWithoutAnAnswerReportsTheFailedStatusRead) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    Run([] { DoSetMacroMode(true); });
    EXPECT_EQ(sink.Statuses(), (Trace{L"正在开启宏模式...", L"宏模式切换后状态读取失败: 等待设备响应超时"}));
    EXPECT_FALSE(TakeSharedSnapshot().device.telemetryValid);
}

TEST_F(DeviceTask, MacroModeWhoseCommandCannotBeWritten) {
    SimDevice device;
    Open(device);
    comm->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    Run([] { DoSetMacroMode(false); });
    EXPECT_EQ(sink.Statuses(), (Trace{L"正在关闭宏模式...", L"发送 app.mode 命令失败。"}));
}

TEST_F(DeviceTask, SwitchTasksWithoutAPortPostOnlyTheirOpeningTextAndWriteNothing) {
    SimDevice device;  // plugged but not opened
    Run([] { DoSetMacroMode(true); });
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在开启宏模式...", L"status 设备未连接。", L"done"}));
    sink.Clear();
    Run([] { DoToggleHidControl(false); });
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在关闭实验性 HID 接口...", L"status 设备未连接。", L"done"}));
    EXPECT_EQ(device.Received(), "");
}

// A device whose port stays through the switch (it changes its interfaces in
// place): the port is watched for its while, then the task ends there.
// What follows a port that goes away is in reenumeration_test.cpp.
TEST_F(DeviceTask, HidControlEnablesAndTheDeviceReEnumeratesInPlace) {
    ShortenedWaits waits(4);
    SimDevice device("hid_cfg=0 reenum_port=keep reenum_ms=" + std::to_string(waits.RealMs(300)));
    Open(device);
    const ULONGLONG start = Clock().tickCount();
    Run([] { DoToggleHidControl(true); });
    EXPECT_GE(Clock().tickCount() - start, kHidReenumerateMs + kPortGoneWaitMs);  // the pause, then the watch
    EXPECT_EQ(sink.Trace(), (Trace{L"refresh", L"status 正在开启实验性 HID 接口...",
                                   L"status HID 控制接口已启用，设备正在重枚举。", L"refresh", L"done"}));
    EXPECT_TRUE(TakeSharedSnapshot().connected);
    // The snapshot after the pause saw the device back with the interface live.
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
    EXPECT_EQ(shared.device.hidCtrlLive, 1);
    EXPECT_EQ(shared.device.hidCtrlPending, 0);
    EXPECT_EQ(device.Received().rfind("hid.control(1)\n", 0), 0u);

    sink.Clear();
    Run([] { DoToggleHidControl(false); });
    EXPECT_EQ(sink.Statuses().back(), L"HID 控制接口已关闭，设备正在重枚举。");
    EXPECT_EQ(TakeSharedSnapshot().device.hidCtrlCfg, 0);
}

TEST_F(DeviceTask, HidControlReplyIsAppliedBeforeTheSnapshot) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    // A telemetry line first (applied, passed over), then the reply; no answer to the snapshot.
    Responder answer(device, "hid.control(1)\n",
                     "TEL|app=1\r\nHID|op=control;ok=1;enabled=1;live=0;pending_reboot=1\r\n");
    Run([] { DoToggleHidControl(true); });
    EXPECT_EQ(sink.Statuses().back(), L"HID 控制接口已启用，设备正在重枚举。");
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_TRUE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
    EXPECT_EQ(shared.device.hidCtrlLive, 0);
    EXPECT_EQ(shared.device.hidCtrlPending, 1);
}

TEST_F(DeviceTask, HidControlOnOlderFirmwareIsReportedAsUnsupported) {
    SimDevice device("legacy=1");
    Open(device);
    Run([] { DoToggleHidControl(true); });
    EXPECT_EQ(sink.Statuses(), (Trace{L"正在开启实验性 HID 接口...",
                                      L"当前固件不支持实验性 HID 接口开关，请先更新设备固件。"}));
}

TEST_F(DeviceTask, HidControlUnsupportedAnswerMatchesInAnyCase) {
    SimDevice device("mute=1");
    Open(device);
    Responder answer(device, "hid.control(1)\n", ">> ERR Unknown Command: HID.CONTROL(1) <<\r\n");
    Run([] { DoToggleHidControl(true); });
    EXPECT_EQ(sink.Statuses().back(), L"当前固件不支持实验性 HID 接口开关，请先更新设备固件。");
}

TEST_F(DeviceTask, HidControlRefusedByTheDevice) {
    SimDevice device("mute=1");
    Open(device);
    Responder answer(device, "hid.control(1)\n",
                     "HID|op=status;enabled=1\r\nHID|op=control;ok=0;enabled=0;live=0;pending_reboot=0\r\n");
    Run([] { DoToggleHidControl(true); });
    EXPECT_EQ(sink.Statuses().back(), L"HID 操作失败，请稍后重试。");
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.hidCtrlCfg, 0);
    EXPECT_EQ(shared.device.hidCtrlLive, 0);
    EXPECT_EQ(shared.device.hidCtrlPending, 0);
}

TEST_F(DeviceTask, HidControlWithoutAReplyTimesOut) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    const ULONGLONG start = Clock().tickCount();
    Run([] { DoToggleHidControl(false); });
    EXPECT_EQ(sink.Statuses().back(), L"HID 切换失败: 等待设备响应超时");
    EXPECT_GE(Clock().tickCount() - start, kHidReplyTimeoutMs);
    EXPECT_TRUE(TakeSharedSnapshot().connected);
}

TEST_F(DeviceTask, HidControlWhoseCommandCannotBeWritten) {
    SimDevice device;
    Open(device);
    comm->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    Run([] { DoToggleHidControl(true); });
    EXPECT_EQ(sink.Statuses().back(), L"发送 hid.control 命令失败。");
}

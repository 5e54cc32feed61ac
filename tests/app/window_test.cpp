#include <gtest/gtest.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/controls.h"
#include "app/messages.h"
#include "tests/app/window_fixture.h"
#include "tests/support/sim_client.h"

// Command dispatch on the window thread, watched from inside: every text the
// status line shows, and the enable states at the moment a command returns.

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

TEST(WindowCommands, SecondCommandWhileATaskRunsIsIgnoredSilently) {
    SimDevice device("reply_delay_ms=800");
    ASSERT_TRUE(device.plugged());
    TestMainWindow main;
    ASSERT_TRUE(SelectPort(device.port()));
    main.Command(IdConnectButton);
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    const size_t before = main.statusHistory().size();

    // A double click on an owner-drawn button delivers the command twice.
    main.Command(IdReadVersionButton);
    main.Command(IdReadVersionButton);
    main.Command(IdConnectButton);  // not even a disconnect gets through
    ASSERT_TRUE(main.PumpUntilIdle(15000));
    main.Drain();
    const std::vector<std::wstring> texts(main.statusHistory().begin() + static_cast<long>(before),
                                          main.statusHistory().end());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), L"正在读取当前固件版本..."), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), L"串口已断开。"), 0);
    EXPECT_EQ(main.Text(g_app.connStateLabel), L"已连接");
    EXPECT_EQ(main.Text(g_app.currentVersionLabel), L"1.0.0");
}

TEST(WindowCommands, SwitchCommandsWaitForTheDeviceStateAndTargetTheOppositeState) {
    SimDevice device("app=0 hid_cfg=1 mute=1");
    ASSERT_TRUE(device.plugged());
    TestMainWindow main;
    ASSERT_TRUE(SelectPort(device.port()));
    main.Command(IdConnectButton);
    // A mute device never answers the sync: the switches stay unusable and their commands do nothing.
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    EXPECT_FALSE(IsWindowEnabled(g_app.macroToggle));
    EXPECT_FALSE(IsWindowEnabled(g_app.hidToggle));
    EXPECT_EQ(main.Text(g_app.hidStateLabel), L"读取中...");
    const size_t before = main.statusHistory().size();
    main.Command(IdMacroToggle);
    main.Command(IdHidToggle);
    main.Drain();
    EXPECT_EQ(main.statusHistory().size(), before);
    EXPECT_FALSE(g_app.busy);

    // Once the state is known, each switch asks for the state it does not have.
    device.Set("mute=0");
    main.Command(IdReadVersionButton);  // reads a telemetry record on the way
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Drain();
    ASSERT_TRUE(IsWindowEnabled(g_app.macroToggle));
    main.Command(IdMacroToggle);
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    main.Command(IdHidToggle);
    ASSERT_TRUE(main.PumpUntilIdle(15000));
    main.Drain();
    const auto& texts = main.statusHistory();
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"正在开启宏模式..."), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"正在关闭实验性 HID 接口..."), texts.end());
    EXPECT_EQ(device.State()["app"], "1");
    EXPECT_EQ(device.State()["hid_cfg"], "0");
}

TEST(WindowCommands, ProgressIsClampedAndDisconnectResetsIt) {
    TestMainWindow main;
    PostMessageW(main.window(), WM_APP_PROGRESS, static_cast<WPARAM>(static_cast<intptr_t>(-5)), 0);
    main.Drain();
    EXPECT_EQ(g_app.progressPercent, 0);
    PostMessageW(main.window(), WM_APP_PROGRESS, 250, 0);
    main.Drain();
    EXPECT_EQ(g_app.progressPercent, 100);

    SimDevice device;
    ASSERT_TRUE(device.plugged());
    main.Command(IdRefreshButton);
    ASSERT_TRUE(SelectPort(device.port()));
    main.Command(IdConnectButton);
    ASSERT_TRUE(main.PumpUntilIdle(10000));
    {
        SharedGuard guard(g_app.sharedLock);
        g_app.latestVersion = "9.9.9";
        g_app.downloadUrl = "http://127.0.0.1/x.uf2";
    }
    main.Command(IdConnectButton);
    main.Drain();
    EXPECT_EQ(g_app.progressPercent, 0);
    EXPECT_EQ(main.statusHistory().back(), L"串口已断开。");
    EXPECT_EQ(main.Text(g_app.latestVersionLabel), L"--");
    EXPECT_EQ(main.Text(g_app.verdictLabel), L"等待检查");
    EXPECT_TRUE(TakeSharedSnapshot().downloadUrl.empty());
    EXPECT_TRUE(IsWindowEnabled(g_app.portCombo));
}

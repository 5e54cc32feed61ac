#include <gtest/gtest.h>

#include "app/control_view.h"

// What the window shows for a state: the enable rules and the state labels.

namespace {
ControlInputs Connected() {
    ControlInputs in;
    in.connected = true;
    in.portName = L"COM7";
    return in;
}
}  // namespace

TEST(ControlView, DisconnectedIdleOffersOnlyPortChoiceAndConnect) {
    const ControlView v = DeriveControlView(ControlInputs{});
    EXPECT_TRUE(v.refreshEnabled);
    EXPECT_TRUE(v.comboEnabled);
    EXPECT_TRUE(v.connectEnabled);
    EXPECT_FALSE(v.readVersionEnabled || v.checkLatestEnabled || v.updateEnabled || v.macroEnabled || v.hidEnabled);
    EXPECT_EQ(v.connectText, L"连接串口");
    EXPECT_EQ(v.connStateText, L"未连接");
    EXPECT_EQ(v.portText, L"串口: --");
    EXPECT_EQ(v.hidStateText, L"未连接设备");
    EXPECT_EQ(v.verdictText, L"等待检查");
}

TEST(ControlView, BusyDisablesEveryCommand) {
    for (bool connected : {false, true}) {
        ControlInputs in = Connected();
        in.connected = connected;
        in.busy = true;
        in.device.telemetryValid = true;
        in.device.hidCtrlCfg = 1;
        in.latestKnown = in.newer = true;
        const ControlView v = DeriveControlView(in);
        EXPECT_FALSE(v.refreshEnabled || v.comboEnabled || v.connectEnabled || v.readVersionEnabled ||
                     v.checkLatestEnabled || v.updateEnabled || v.macroEnabled || v.hidEnabled);
    }
}

TEST(ControlView, ConnectedSwitchesNeedTheDeviceStateAndUpdateNeedsANewerVersion) {
    ControlInputs in = Connected();
    ControlView v = DeriveControlView(in);
    EXPECT_FALSE(v.comboEnabled);
    EXPECT_TRUE(v.readVersionEnabled && v.checkLatestEnabled && v.connectEnabled);
    EXPECT_FALSE(v.updateEnabled || v.macroEnabled || v.hidEnabled);
    EXPECT_EQ(v.connectText, L"断开连接");
    EXPECT_EQ(v.connStateText, L"已连接");
    EXPECT_EQ(v.portText, L"串口: COM7");

    in.device.telemetryValid = true;
    in.device.macroModeOn = true;
    in.device.hidCtrlCfg = 0;
    in.latestKnown = true;
    v = DeriveControlView(in);
    EXPECT_TRUE(v.macroEnabled && v.hidEnabled && v.macroChecked);
    EXPECT_FALSE(v.updateEnabled || v.hidChecked);
    EXPECT_EQ(v.verdictText, L"已是最新版本");

    in.newer = true;
    in.device.hidCtrlCfg = 1;
    v = DeriveControlView(in);
    EXPECT_TRUE(v.updateEnabled && v.hidChecked);
    EXPECT_EQ(v.verdictText, L"检测到新版本");
}

TEST(ControlView, HidStateTextTakesTheFirstRuleThatApplies) {
    struct Case {
        int32_t cfg, live, pending;
        const wchar_t* text;
    };
    const Case cases[] = {
        {-1, 1, 1, L"读取中..."},     {1, 1, 1, L"等待重枚举"},  {0, 0, 1, L"等待重枚举"},
        {1, 1, 0, L"已启用"},         {1, -1, -1, L"已启用"},    {1, 0, 0, L"等待接口就绪"},
        {0, 1, 0, L"已关闭"},         {0, -1, -1, L"已关闭"},
    };
    for (const Case& c : cases) {
        ControlInputs in = Connected();
        in.device.hidCtrlCfg = c.cfg;
        in.device.hidCtrlLive = c.live;
        in.device.hidCtrlPending = c.pending;
        SCOPED_TRACE(testing::Message() << c.cfg << "/" << c.live << "/" << c.pending);
        EXPECT_EQ(DeriveControlView(in).hidStateText, c.text);
    }
}

TEST(UpdateAvailable, OnlyWhenBothVersionsAreKnownAndTheLatestRanksAbove) {
    EXPECT_TRUE(UpdateAvailable("1.2.3", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("1.2.4", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("1.2.5", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("1.2.3", ""));
}

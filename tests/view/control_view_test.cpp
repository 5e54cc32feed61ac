#include <gtest/gtest.h>

#include "view/control_view.h"

// What the window shows for a state: the enable rules and the state labels.

namespace {
ControlInputs Connected() {
    ControlInputs in;
    in.connected = true;
    in.portName = L"COM7";
    return in;
}
}  // namespace

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

TEST(ControlView, TheUpdateRunsFromTheOfferedBootLoaderDriveWhileNoPortIsOpen) {
    ControlInputs in;
    EXPECT_FALSE(DeriveControlView(in).updateEnabled);
    in.driveOffered = true;
    EXPECT_TRUE(DeriveControlView(in).updateEnabled);
    in.busy = true;
    EXPECT_FALSE(DeriveControlView(in).updateEnabled);
    // With a port open the update goes through the port: only newer firmware enables it.
    in = Connected();
    in.driveOffered = true;
    EXPECT_FALSE(DeriveControlView(in).updateEnabled);
    in.newer = true;
    EXPECT_TRUE(DeriveControlView(in).updateEnabled);
}

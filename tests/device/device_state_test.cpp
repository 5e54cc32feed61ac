#include <gtest/gtest.h>

#include <string>

#include "device/device_state.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"
#include "tests/support/device_helpers.h"
#include "tests/support/known_state.h"
#include "tests/support/sim_client.h"

// The owner of what is known about the device: the port it is on, and the
// reply records applied to its status.

namespace {

class DeviceState : public ::testing::Test {
protected:
    void Open(SimDevice& device) { ASSERT_TRUE(OpenDevice(device)); }
    void TearDown() override { CloseDevicePort(); }
};

}  // namespace

TEST_F(DeviceState, OpenAndCloseForgetTheDeviceStatusButNotTheVersion) {
    SimDevice device("mute=1");
    ApplyDeviceRecord("TEL|fw=1.2.0;app=1;hid_ctrl_cfg=1;hid_ctrl_live=1;hid_ctrl_pending=1");
    Open(device);
    SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.currentVersion, "1.2.0");
    EXPECT_FALSE(shared.device.telemetryValid);
    EXPECT_FALSE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, -1);
    EXPECT_EQ(shared.device.hidCtrlLive, -1);
    EXPECT_EQ(shared.device.hidCtrlPending, -1);

    ApplyDeviceRecord("TEL|app=0;hid_ctrl_cfg=0");
    CloseDevicePort();
    shared = TakeSharedSnapshot();
    EXPECT_FALSE(shared.connected);
    EXPECT_TRUE(shared.portName.empty());
    EXPECT_EQ(shared.device.currentVersion, "1.2.0");
    EXPECT_FALSE(shared.device.telemetryValid);
    EXPECT_EQ(shared.device.hidCtrlCfg, -1);
}

TEST_F(DeviceState, EveryLineUpdatesTheDeviceStatusEvenWhenNotAccepted) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("TEL|fw=1.4.0;app=1;hid_ctrl_cfg=1\r\nHID|op=control;ok=1;enabled=1;live=0;pending_reboot=1\r\nend\r\n");
    std::wstring error;
    ASSERT_TRUE(ReadLinesUntil(DeviceLink(), 3000, ApplyingRecords(AppliedRecords::TelemetryAndHid,
                                                                   [](const std::string& line, const ReplyRecord&) {
                                                                       return line == "end";
                                                                   }),
                               error));
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.currentVersion, "1.4.0");
    EXPECT_TRUE(shared.device.telemetryValid);
    EXPECT_TRUE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
    EXPECT_EQ(shared.device.hidCtrlLive, 0);
    EXPECT_EQ(shared.device.hidCtrlPending, 1);
}

// A simulated device on a COM port, seen through raw Win32 calls. These guard
// the harness; the product's tests rely on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/sim_client.h"
#include "tests/tools/raw_win32.h"

namespace {

TEST(SimulatedDevice, AnswersOnARawPortUnderItsOwnName) {
    SimDevice device("fw=1.2.3 app=1 hid_cfg=1");
    ASSERT_TRUE(device.plugged());
    // COM numbers of two digits and more: Wine's own DefineDosDeviceW would list COM23 as COM20.
    EXPECT_TRUE(IsPortListed(device.port()));
    HANDLE port = OpenRawPort(device.port());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    EXPECT_EQ(Ask(port, "telemetry.once"), "TEL|fw=1.2.3;app=1;hid_ctrl_cfg=1;hid_ctrl_live=1;hid_ctrl_pending=0\r\n");
    EXPECT_EQ(Ask(port, "app.mode(0)"), "OK\r\n");
    EXPECT_EQ(Ask(port, "hid.control(0)"), "HID|op=control;ok=1;enabled=0;live=1;pending_reboot=1\r\n");
    EXPECT_EQ(Ask(port, "nonsense"), "ERR unknown command: nonsense\r\n");
    EXPECT_EQ(device.Received(), "telemetry.once\napp.mode(0)\nhid.control(0)\nnonsense\n");
    auto state = device.State();
    EXPECT_EQ(state["app"], "0");
    EXPECT_EQ(state["hid_cfg"], "0");
    EXPECT_EQ(state["mode"], "app");
    CloseHandle(port);
}

TEST(SimulatedDevice, PassesBytesUnchangedBothWays) {
    SimDevice device;
    ASSERT_TRUE(device.plugged());
    HANDLE port = OpenRawPort(device.port());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    // CR LF, NUL, 0xFF, XON/XOFF, ^C, ^D, DEL, ESC: nothing is translated, echoed or eaten.
    const char raw[] = "\r\n\x00\xff\x11\x13\x03\x04\x7f\x1b\rend";
    const std::string bytes(raw, sizeof raw - 1);

    ASSERT_TRUE(WriteAll(port, bytes));
    std::string received;
    EXPECT_TRUE(WaitUntil([&] { return (received = device.Received()).size() >= bytes.size(); }, 2000));
    EXPECT_EQ(received, bytes);

    device.Send(bytes);
    EXPECT_EQ(ReadBytes(port, bytes.size(), 2000), bytes);
    CloseHandle(port);
}

TEST(SimulatedDevice, UnplugFailsTheOpenHandleAndReplugBringsThePortBack) {
    SimDevice device("fw=3.1.0");
    ASSERT_TRUE(device.plugged());
    HANDLE port = OpenRawPort(device.port());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    device.Unplug();
    EXPECT_FALSE(IsPortListed(device.port()));
    EXPECT_TRUE(WaitUntil(
        [&] {
            DWORD errors = 0;
            COMSTAT status{};
            return !ClearCommError(port, &errors, &status);
        },
        2000));
    CloseHandle(port);
    EXPECT_EQ(OpenRawPort(device.port()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.State()["mode"], "off");

    device.Replug();
    EXPECT_TRUE(IsPortListed(device.port()));
    port = OpenRawPort(device.port());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Ask(port, "telemetry.once").compare(0, 14, "TEL|fw=3.1.0;a"), 0);
    CloseHandle(port);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock_calls.h"
#include "device/device_state.h"
#include "device/queries.h"
#include "device/tasks.h"
#include "device/waits.h"
#include "tests/support/device_helpers.h"
#include "tests/support/known_state.h"
#include "tests/support/message_sink.h"
#include "tests/support/shortened_waits.h"
#include "tests/support/sim_client.h"

// After a HID switch the device drops off the USB bus and comes back with its
// new interfaces; Windows removes its COM port and makes it again, and the old
// handle is dead for good. The switch follows the device there. The waits run
// shortened (tests/support/shortened_waits.h), and the simulated device's
// delays with them.

namespace {

class Reenumeration : public ::testing::Test {
protected:
    void TearDown() override { CloseDevicePort(); }
    MessageSink sink;
};

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST_F(Reenumeration, TheSwitchReconnectsToTheDeviceWhereverItComesBack) {
    struct Case {
        const char* options;
        uint64_t backMs;  // from the port going away to its return
        bool newName;
    };
    const Case cases[] = {
        {"", 1000, false},                // back under its name after a second
        {"reenum_port=new", 1000, true},  // back as another device instance, under another name
        {"", 0, false},                   // back under its name at once: only the old handle shows it went
        {"", 15000, false},               // Windows takes long to set up the device's new interfaces
    };
    ShortenedWaits waits(4);
    for (const Case& c : cases) {
        const std::string options = std::string(c.options) + " reenum_ms=" + std::to_string(waits.RealMs(300)) +
                                    " reenum_back_ms=" + std::to_string(waits.RealMs(c.backMs));
        SCOPED_TRACE(options);
        SimDevice device("fw=1.4.0 hid_cfg=0 " + options);
        ASSERT_TRUE(OpenDevice(device));
        sink.Clear();
        ASSERT_TRUE(RunTask(sink, "the HID switch", [] { DoToggleHidControl(true); }, 40000));
        const std::vector<std::wstring> statuses = sink.Statuses();
        EXPECT_EQ(statuses, (std::vector<std::wstring>{L"正在开启实验性 HID 接口...",
                                                       L"HID 控制接口已启用，设备正在重枚举。",
                                                       L"设备重枚举完成，已重新连接。"}));
        const std::string name = device.State()["name"];
        EXPECT_EQ(name != device.name(), c.newName);
        const SharedSnapshot shared = TakeSharedSnapshot();
        EXPECT_TRUE(shared.connected);
        EXPECT_EQ(Ascii(shared.portName), name);
        // Read once more on the new port: the interface is live, nothing pending.
        EXPECT_EQ(shared.device.hidCtrlCfg, 1);
        EXPECT_EQ(shared.device.hidCtrlLive, 1);
        EXPECT_EQ(shared.device.hidCtrlPending, 0);
        EXPECT_EQ(shared.device.currentVersion, "1.4.0");
        // And the port works: the device answers on it.
        std::wstring error;
        EXPECT_TRUE(RequestTelemetrySnapshot(error)) << Ascii(error);
        CloseDevicePort();
    }
}

// Followed for its while from the moment its port went: a device whose port
// comes back but that never answers there is given up and let go of. (One whose
// port never comes back: tests/app/window_test.cpp, with what the window then shows.)
TEST_F(Reenumeration, ADeviceThatNeverAnswersAgainIsLetGoOf) {
    ShortenedWaits waits(8);
    SimDevice device("fw=1.4.0 hid_cfg=1 reenum_back_ms=0 reenum_ms=" + std::to_string(waits.RealMs(300)) +
                     " reenum_mute_ms=" + std::to_string(waits.RealMs(60000)));
    ASSERT_TRUE(OpenDevice(device));
    const ULONGLONG start = Clock().tickCount();
    ASSERT_TRUE(RunTask(sink, "the HID switch", [] { DoToggleHidControl(false); }, 45000));
    EXPECT_GE(Clock().tickCount() - start, kReturnWaitMs);
    EXPECT_EQ(sink.Statuses().back(), L"设备重枚举后未能自动重连，请手动重新连接。");
    const std::vector<int32_t> progress = sink.ProgressValues();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 0);
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_FALSE(shared.connected);
    EXPECT_EQ(shared.device.currentVersion, "");
}

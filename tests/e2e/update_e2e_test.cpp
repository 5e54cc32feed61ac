#include <gtest/gtest.h>

#include <string>

#include "probe.h"
#include "tests/e2e/program.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "update/release/image_digest.h"
#include "view/control_ids.h"

// "获取最新版本" and "立即更新固件" as a user meets them: the real program, a
// simulated device that reboots into a simulated RP2040 boot loader, and the
// local update server the program was built to ask.

namespace {

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Waits until the simulated device's boot-loader drive takes files again.
testing::AssertionResult WaitForDriveTakingFiles(SimDevice& device) {
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < 10000) {
        if (device.State()["drive_refusing"] == "0") return testing::AssertionSuccess();
        Sleep(50);
    }
    return testing::AssertionFailure() << "the drive still refuses files";
}

class UpdateEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ResetUpdateServer(); }
    // Publishes a good image carrying `version` and a manifest naming it.
    void Publish(const std::string& version, const std::string& path = "/fw/norva1-e2e.uf2",
                 const std::string& variant = "good") {
        ServeImage(path, version, 65536, variant);
        ServeManifest("version=" + version + "\nxzdz=" + Ascii(UpdateServerUrl(path)) + "\n");
    }
    // Connects and checks, which finds the newer version and enables the update.
    void CheckFindsNewer(ConnectedProgram& window, const std::wstring& latest) {
        ASSERT_TRUE(window.ready);
        ASSERT_TRUE(window.Run(IdCheckLatestButton, L"检测到新固件: " + latest)) << Ascii(window.Text(IdStatusLabel));
        ASSERT_TRUE(WaitForEnabled(window.main, IdUpdateButton, true, 5000));
    }
};

}  // namespace

TEST_F(UpdateEndToEnd, CheckFindsANewerVersionAndOffersTheUpdate) {
    SimDevice device("fw=1.0.0");
    Publish("1.2.0");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.2.0");
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.0.0");
    EXPECT_EQ(window.Text(IdLatestVersionLabel), L"1.2.0");
    EXPECT_EQ(window.Text(IdVerdictLabel), L"检测到新版本");
}

TEST_F(UpdateEndToEnd, CheckWithTheSameOrAnOlderVersionOffersNothing) {
    for (const char* latest : {"1.2.0", "1.1.0"}) {
        SCOPED_TRACE(latest);
        SimDevice device("fw=1.2.0");
        Publish(latest);
        ConnectedProgram window(device);
        ASSERT_TRUE(window.ready);
        ASSERT_TRUE(window.Run(IdCheckLatestButton, L"当前版本已是最新，无需更新。"));
        EXPECT_EQ(window.Text(IdLatestVersionLabel), std::wstring(latest, latest + 5));
        EXPECT_EQ(window.Text(IdVerdictLabel), L"已是最新版本");
        EXPECT_FALSE(ProbeEnabled(window.main, IdUpdateButton));
    }
}

TEST_F(UpdateEndToEnd, CheckWhoseManifestIsMissingOrMalformedSaysWhy) {
    SimDevice device("fw=1.0.0");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    ServeManifest("gone", "status=404");
    EXPECT_TRUE(window.Run(IdCheckLatestButton, L"获取远程版本信息失败: HTTP 状态码 404"));
    ServeManifest("[firmware]\nversion=\nxzdz=http://example/x.uf2\n");
    EXPECT_TRUE(window.Run(IdCheckLatestButton, L"获取远程版本信息失败: com.ini 格式错误，缺少 version 或 xzdz"));
    EXPECT_EQ(window.Text(IdLatestVersionLabel), L"--");
    EXPECT_EQ(window.Text(IdVerdictLabel), L"等待检查");
    EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
}

TEST_F(UpdateEndToEnd, CheckWhoseDeviceStopsAnsweringSaysSo) {
    SimDevice device("fw=1.0.0");
    Publish("1.2.0");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    device.Set("mute=1");
    EXPECT_TRUE(window.Run(IdCheckLatestButton, L"读取当前版本失败: 读取固件版本超时"));
    EXPECT_EQ(window.Text(IdVerdictLabel), L"等待检查");
}

TEST_F(UpdateEndToEnd, TheWholeUpdateFromTheButtonToTheReconnectedDevice) {
    SimDevice device("fw=1.0.0 app=1");
    Publish("1.2.0", "/fw/norva1-1.2.0.uf2");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.2.0");
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.2.0");
    EXPECT_EQ(window.Text(IdVerdictLabel), L"已是最新版本");
    EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
    EXPECT_EQ(window.Text(IdPortLabel), L"串口: " + device.port());
    EXPECT_FALSE(ProbeEnabled(window.main, IdUpdateButton));
    EXPECT_TRUE(ProbeEnabled(window.main, IdReadVersionButton));
    auto state = device.State();
    EXPECT_EQ(state["flashed"], "1");
    EXPECT_EQ(state["last_uf2"], "norva1-1.2.0.uf2");
}

TEST_F(UpdateEndToEnd, AnUpdateGivenWhenNothingIsNewerTouchesNothing) {
    SimDevice device("fw=1.2.0");
    Publish("1.2.0");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    ASSERT_TRUE(window.Run(IdCheckLatestButton, L"当前版本已是最新，无需更新。"));
    device.ClearReceived();
    ResetUpdateServer();
    // The button is disabled; a command that reaches the window anyway changes nothing.
    ASSERT_TRUE(window.Run(IdUpdateButton, L"当前版本已是最新，无需更新。"));
    EXPECT_EQ(device.Received(), "");
    EXPECT_TRUE(ServedRequests().empty());
}

TEST_F(UpdateEndToEnd, ImagesThatCannotBeHadOrAreNotFirmwareLeaveTheDeviceConnected) {
    struct Case {
        const char* variant;  // "" for a missing image
        const wchar_t* text;
    };
    for (const Case& c : {Case{"", L"下载 UF2 失败: HTTP 状态码 404"}, Case{"empty", L"下载的 UF2 文件为空。"},
                          Case{"html", L"下载的 UF2 文件无效。"}, Case{"wrong_family", L"下载的 UF2 文件无效。"}}) {
        SCOPED_TRACE(c.variant);
        SimDevice device("fw=1.0.0");
        ResetUpdateServer();
        Publish("1.5.0", "/fw/bad.uf2", *c.variant ? c.variant : "good");
        if (!*c.variant) ServeBytes("/fw/bad.uf2", "", "status=404");
        ConnectedProgram window(device);
        CheckFindsNewer(window, L"1.5.0");
        EXPECT_TRUE(window.Run(IdUpdateButton, c.text));
        EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
        EXPECT_EQ(device.State()["mode"], "app");
        EXPECT_EQ(device.Received().find("sys.bootsel()"), std::string::npos);
    }
}

TEST_F(UpdateEndToEnd, ADeviceUnpluggedBeforeTheRebootCommandIsReported) {
    SimDevice device("fw=1.0.0");
    Publish("1.6.0");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.6.0");
    device.Unplug();
    // The update fails on the dead port ("发送 sys.bootsel() 失败。"); once it has
    // ended, the window finds the port gone and lets go of it.
    EXPECT_TRUE(window.Run(IdUpdateButton, L"设备已拔出，串口已断开。"));
    EXPECT_EQ(window.Text(IdConnStateLabel), L"未连接");
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"--");
    EXPECT_EQ(device.State()["flashed"], "0");
}

TEST_F(UpdateEndToEnd, ABootLoaderDriveThatNeverComesLeavesTheProgramDisconnected) {
    SimDevice device("fw=1.0.0 drive=never");
    Publish("1.7.0");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.7.0");
    EXPECT_TRUE(window.Run(IdUpdateButton, L"未检测到 RPI-RP2，请手动进入 BOOTSEL 后重试。", 40000));
    EXPECT_EQ(window.Text(IdConnStateLabel), L"未连接");
    EXPECT_EQ(window.Text(IdPortLabel), L"串口: --");
    EXPECT_TRUE(ProbeEnabled(window.main, IdPortCombo));
}

// The drive refuses files while Windows still mounts it (or an antivirus scans
// it): the copy fails and nothing is retried by itself, but the device waiting
// in its boot loader is offered again, and the user's next click finishes the
// job. Twice in a row through one window, with no device message between: the
// second drive, on the letter the first had, is offered as well.
TEST_F(UpdateEndToEnd, ADriveThatRefusesTheImageAtFirstIsOfferedAgainAndTheNextClickFlashes) {
    SimDevice device("fw=1.0.0 drive_delay_ms=500 drive_refuse_ms=1500");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    int flashed = 0;
    std::string firstDrive;
    for (const std::string version : {"1.8.0", "1.8.1"}) {
        SCOPED_TRACE(version);
        const std::wstring wide(version.begin(), version.end());
        Publish(version, "/fw/norva1-" + version + ".uf2");
        CheckFindsNewer(window, wide);
        ASSERT_TRUE(window.Run(IdUpdateButton, L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。", 20000))
            << Ascii(window.Text(IdStatusLabel));
        EXPECT_EQ(window.Text(IdConnStateLabel), L"未连接");
        EXPECT_TRUE(ProbeEnabled(window.main, IdUpdateButton));
        EXPECT_EQ(device.State()["flashed"], std::to_string(flashed));
        if (firstDrive.empty()) firstDrive = device.State()["drive"];
        EXPECT_EQ(device.State()["drive"], firstDrive);

        ASSERT_TRUE(WaitForDriveTakingFiles(device));
        ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
        EXPECT_EQ(window.Text(IdCurrentVersionLabel), wide);
        EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
        EXPECT_EQ(device.State()["flashed"], std::to_string(++flashed));
    }
}

TEST_F(UpdateEndToEnd, ADeviceThatDoesNotComeBackIsLeftToTheUser) {
    SimDevice device("fw=1.0.0 return=never drive_delay_ms=500");
    Publish("1.9.0");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.9.0");
    EXPECT_TRUE(window.Run(IdUpdateButton, L"固件已更新，但设备未自动重连，请手动重新连接。", 45000));
    EXPECT_EQ(window.Text(IdConnStateLabel), L"未连接");
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.0.0");
    EXPECT_EQ(device.State()["flashed"], "1");
}

// --- no dead ends ---

// Held BOOTSEL and plugged in: a drive and no port. The program finds the drive
// at start-up, flashes the newest firmware from there and connects to the port
// the device comes back on.
TEST_F(UpdateEndToEnd, ADeviceInItsBootLoaderAtStartUpIsFlashedAndConnected) {
    SimDevice device("start=bootloader fw=0.9.0");
    Publish("1.6.0", "/fw/norva1-1.6.0.uf2");
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    ASSERT_TRUE(WaitForText(window.main, IdStatusLabel, L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。", 5000));
    ASSERT_TRUE(WaitForEnabled(window.main, IdUpdateButton, true, 2000));
    EXPECT_FALSE(ProbeEnabled(window.main, IdReadVersionButton));
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
    EXPECT_EQ(window.Text(IdPortLabel), L"串口: " + device.port());
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.6.0");
    EXPECT_EQ(window.Text(IdLatestVersionLabel), L"1.6.0");
    ComboState combo;
    ASSERT_TRUE(ProbeCombo(window.main, IdPortCombo, combo));
    ASSERT_GE(combo.selection, 0);
    EXPECT_EQ(combo.items[static_cast<size_t>(combo.selection)], device.port());
    EXPECT_EQ(device.State()["last_uf2"], "norva1-1.6.0.uf2");
}

// The drive never came. Another board sat in its boot loader since before the
// reboot: its drive is not the device's, so it is not offered and the update
// command stays off, even for a click that gets through. The user does what the
// text says (the other board put away, BOOTSEL held while plugging the device
// in again), presses "刷新串口", and the update can be retried.
TEST_F(UpdateEndToEnd, AfterTheDriveTimedOutOnlyTheDevicePluggedInWithBootselIsFlashed) {
    OtherBoardsDrive other;
    ASSERT_NE(other.letter, 0);
    SimDevice device("fw=1.0.0 drive=never");
    Publish("1.2.0", "/fw/norva1-1.2.0.uf2");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.2.0");
    ASSERT_TRUE(window.Run(IdUpdateButton, L"未检测到 RPI-RP2，请手动进入 BOOTSEL 后重试。", 40000));
    EXPECT_FALSE(ProbeEnabled(window.main, IdUpdateButton));
    // The click is refused: the refresh queued behind it runs while no task does.
    const size_t served = ServedRequests().size();
    ASSERT_TRUE(ProbePostCommand(window.main, IdUpdateButton));
    ASSERT_TRUE(ProbePostCommand(window.main, IdRefreshButton));
    ASSERT_TRUE(WaitForText(window.main, IdStatusLabel, L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。", 5000))
        << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(ServedRequests().size(), served);
    other.Remove();

    device.Set("drive=auto");
    device.Bootsel();
    ASSERT_TRUE(ProbePostCommand(window.main, IdRefreshButton));
    ASSERT_TRUE(WaitForText(window.main, IdStatusLabel, L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。", 5000));
    ASSERT_TRUE(WaitForEnabled(window.main, IdUpdateButton, true, 2000));
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.2.0");
    EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
    EXPECT_EQ(device.State()["flashed"], "1");
}

TEST_F(UpdateEndToEnd, TwoBootLoaderDrivesAreNotFlashed) {
    const wchar_t first = SimAddDrive();
    const wchar_t second = SimAddDrive();
    ASSERT_TRUE(first != 0 && second != 0);
    RunningProgram program;
    ASSERT_TRUE(program.started());
    EXPECT_TRUE(WaitForText(program.window(), IdStatusLabel, L"检测到多个 RPI-RP2 磁盘，请只连接一台设备。", 5000));
    EXPECT_FALSE(ProbeEnabled(program.window(), IdUpdateButton));
    // One goes: now it is clear which to take.
    SimRemoveDrive(second);
    ASSERT_TRUE(ProbePostCommand(program.window(), IdRefreshButton));
    EXPECT_TRUE(WaitForText(program.window(), IdStatusLabel, L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。", 5000));
    EXPECT_TRUE(WaitForEnabled(program.window(), IdUpdateButton, true, 2000));
    SimRemoveDrive(first);
}

TEST_F(UpdateEndToEnd, ADeviceThatKeepsItsOldVersionAfterFlashingIsOfferedTheUpdateAgain) {
    SimDevice device("fw=1.0.0 keep_version=1");
    Publish("1.2.0");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.2.0");
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件已写入，但设备仍报告旧版本 1.0.0，请重试更新。", 60000))
        << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.0.0");
    EXPECT_EQ(window.Text(IdVerdictLabel), L"检测到新版本");
    EXPECT_TRUE(ProbeEnabled(window.main, IdUpdateButton));
}

TEST_F(UpdateEndToEnd, ADeviceBackOnAnotherPortIsConnectedThere) {
    SimDevice device("fw=1.0.0 return_com=new");
    Publish("1.2.0");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.2.0");
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
    const std::string now = device.State()["name"];
    ASSERT_NE(now, device.name());
    const std::wstring port(now.begin(), now.end());
    EXPECT_EQ(window.Text(IdPortLabel), L"串口: " + port);
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.2.0");
    ComboState combo;
    ASSERT_TRUE(ProbeCombo(window.main, IdPortCombo, combo));
    ASSERT_GE(combo.selection, 0);
    EXPECT_EQ(combo.items[static_cast<size_t>(combo.selection)], port);
}

// Signed and CDN links carry a query string; the file on the drive is named without it.
TEST_F(UpdateEndToEnd, AnImageUrlWithAQueryStringIsFlashedUnderItsPlainName) {
    SimDevice device("fw=1.0.0");
    ServeImage("/fw/norva1-1.3.0.uf2", "1.3.0", 65536);
    ServeManifest("version=1.3.0\nxzdz=" + Ascii(UpdateServerUrl("/fw/norva1-1.3.0.uf2?sig=a1&exp=12:00")) + "\n");
    ConnectedProgram window(device);
    CheckFindsNewer(window, L"1.3.0");
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(device.State()["last_uf2"], "norva1-1.3.0.uf2");
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.3.0");
}

#ifdef NORVA_TLS_PROGRAM_PATH
// A program built for an https update server: the manifest and the image come
// over TLS, checked by the system, and the image hashes as the manifest says.
TEST_F(UpdateEndToEnd, TheWholeUpdateOverHttps) {
    SimDevice device("fw=1.0.0");
    const std::string image = ServeImage("/fw/norva1-1.8.0.uf2", "1.8.0", 65536);
    std::string digest;
    ASSERT_TRUE(ImageSha256(std::vector<uint8_t>(image.begin(), image.end()), digest));
    ServeManifest("version=1.8.0\nxzdz=" + Ascii(UpdateServerTlsUrl("/fw/norva1-1.8.0.uf2")) + "\nsha256=" + digest +
                  "\n");
    ConnectedProgram window(device, NORVA_TLS_PROGRAM_PATH);
    CheckFindsNewer(window, L"1.8.0");
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000)) << Ascii(window.Text(IdStatusLabel));
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.8.0");
    const auto requests = ServedRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().target, "/com.ini");
    for (const ServedRequest& request : requests) EXPECT_EQ(request.scheme, "https") << request.target;
}
#endif

// --- the HID switch, after which the device may come back on any port ---

// The device drops off the bus after the switch and comes back with its new
// interfaces, here as another device instance under another COM number: the
// program follows it there, and the connection works.
TEST(ReenumerationEndToEnd, TheHidSwitchFollowsTheDeviceToItsNewPort) {
    SimDevice device("fw=2.3.4 hid_cfg=0 reenum_port=new");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    ASSERT_TRUE(WaitForEnabled(window.main, IdHidToggle, true, 5000));
    EXPECT_EQ(window.Text(IdHidStateLabel), L"已关闭");
    ASSERT_TRUE(window.Run(IdHidToggle, L"设备重枚举完成，已重新连接。", 20000)) << Ascii(window.Text(IdStatusLabel));
    const std::string now = device.State()["name"];
    ASSERT_NE(now, device.name());
    EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
    EXPECT_EQ(window.Text(IdPortLabel), L"串口: " + std::wstring(now.begin(), now.end()));
    EXPECT_EQ(window.Text(IdHidStateLabel), L"已启用");
    EXPECT_EQ(device.State()["hid_cfg"], "1");
    ASSERT_TRUE(window.Run(IdReadVersionButton, L"当前固件版本: 2.3.4"));
}

// Windows may open the device's port before the firmware answers on it: the
// program asks again until the device answers, and only then says it has
// reconnected, with the switches showing what the device answered.
TEST(ReenumerationEndToEnd, ADeviceSilentAfterItsReturnIsReconnectedOnceItAnswers) {
    SimDevice device("fw=2.3.4 hid_cfg=0 reenum_mute_ms=5000");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    ASSERT_TRUE(WaitForEnabled(window.main, IdHidToggle, true, 5000));
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(window.Run(IdHidToggle, L"设备重枚举完成，已重新连接。", 30000)) << Ascii(window.Text(IdStatusLabel));
    EXPECT_GE(GetTickCount64() - start, 5000u);
    EXPECT_EQ(window.Text(IdConnStateLabel), L"已连接");
    EXPECT_EQ(window.Text(IdHidStateLabel), L"已启用");
    EXPECT_TRUE(ProbeEnabled(window.main, IdHidToggle));
    EXPECT_TRUE(ProbeEnabled(window.main, IdMacroToggle));
}

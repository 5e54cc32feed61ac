#include <gtest/gtest.h>

#include <algorithm>

#include "probe.h"
#include "tests/e2e/program.h"
#include "tests/support/sim_client.h"
#include "view/control_ids.h"
#include "view/icon_ids.h"

// The program as a user meets it: started as its own process, its window read
// and clicked through the window probe, a simulated device on a COM port.

namespace {

const int kCommands[] = {IdRefreshButton,     IdPortCombo,    IdConnectButton, IdReadVersionButton,
                         IdCheckLatestButton, IdUpdateButton, IdMacroToggle,   IdHidToggle};

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}


}  // namespace

TEST(EndToEnd, StartsWithThePortsListedAndNothingToDoButConnect) {
    SimDevice device;
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;

    ComboState combo;
    ASSERT_TRUE(ProbeCombo(main, IdPortCombo, combo));
    EXPECT_NE(std::find(combo.items.begin(), combo.items.end(), device.port()), combo.items.end());
    EXPECT_EQ(combo.selection, 0);
    EXPECT_EQ(TextOf(main, IdStatusLabel), L"就绪");
    EXPECT_EQ(TextOf(main, IdConnStateLabel), L"未连接");
    EXPECT_EQ(TextOf(main, IdPortLabel), L"串口: --");
    EXPECT_EQ(TextOf(main, IdCurrentVersionLabel), L"--");
    EXPECT_EQ(TextOf(main, IdLatestVersionLabel), L"--");
    EXPECT_EQ(TextOf(main, IdVerdictLabel), L"等待检查");
    EXPECT_EQ(TextOf(main, IdHidStateLabel), L"未连接设备");
    EXPECT_EQ(TextOf(main, IdConnectButton), L"连接串口");
    for (int id : {IdRefreshButton, IdPortCombo, IdConnectButton}) EXPECT_TRUE(ProbeEnabled(main, id)) << id;
    for (int id : {IdReadVersionButton, IdCheckLatestButton, IdUpdateButton, IdMacroToggle, IdHidToggle}) {
        EXPECT_FALSE(ProbeEnabled(main, id)) << id;
    }
}

// The HID switch, after which the device re-enumerates and may come back on
// any port, is in update_e2e_test.cpp, which has the simulated world to itself.
TEST(EndToEnd, ConnectReadVersionSwitchMacroModeAndDisconnect) {
    SimDevice device("fw=2.3.4 app=0 hid_cfg=0 reply_delay_ms=400");
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;

    ASSERT_TRUE(SelectPort(main, device.port()));
    ASSERT_TRUE(ProbePostCommand(main, IdConnectButton));
    ASSERT_TRUE(WaitForText(main, IdConnStateLabel, L"已连接", 5000));
    // While the device takes its time over the sync, nothing can be started.
    for (int id : kCommands) EXPECT_FALSE(ProbeEnabled(main, id)) << id;
    EXPECT_EQ(TextOf(main, IdPortLabel), L"串口: " + device.port());
    EXPECT_EQ(TextOf(main, IdConnectButton), L"断开连接");
    ASSERT_TRUE(WaitForText(main, IdStatusLabel, L"设备状态已同步。", 10000));
    ASSERT_TRUE(WaitForEnabled(main, IdMacroToggle, true, 5000));
    EXPECT_TRUE(ProbeEnabled(main, IdHidToggle));
    EXPECT_FALSE(ProbeEnabled(main, IdPortCombo));
    EXPECT_EQ(TextOf(main, IdHidStateLabel), L"已关闭");

    ASSERT_TRUE(ProbePostCommand(main, IdReadVersionButton));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"当前固件版本: 2.3.4", 10000));
    EXPECT_TRUE(WaitForText(main, IdCurrentVersionLabel, L"2.3.4", 2000));

    ASSERT_TRUE(WaitForEnabled(main, IdMacroToggle, true, 5000));
    ASSERT_TRUE(ProbePostCommand(main, IdMacroToggle));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"宏模式已开启。", 10000));
    EXPECT_EQ(device.State()["app"], "1");

    ASSERT_TRUE(WaitForEnabled(main, IdConnectButton, true, 5000));
    ASSERT_TRUE(ProbePostCommand(main, IdConnectButton));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"串口已断开。", 5000));
    EXPECT_EQ(TextOf(main, IdConnStateLabel), L"未连接");
    EXPECT_EQ(TextOf(main, IdCurrentVersionLabel), L"--");
    EXPECT_EQ(TextOf(main, IdLatestVersionLabel), L"--");
    EXPECT_EQ(TextOf(main, IdVerdictLabel), L"等待检查");
    EXPECT_EQ(TextOf(main, IdHidStateLabel), L"未连接设备");
    EXPECT_TRUE(ProbeEnabled(main, IdPortCombo));
    EXPECT_FALSE(ProbeEnabled(main, IdMacroToggle));
}

TEST(EndToEnd, OlderFirmwareSaysTheHidSwitchIsUnsupported) {
    SimDevice device("legacy=1 hid_cfg=0");
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;
    ASSERT_TRUE(window.ConnectAndSync());
    ASSERT_TRUE(WaitForEnabled(main, IdHidToggle, true, 5000));
    ASSERT_TRUE(ProbePostCommand(main, IdHidToggle));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"当前固件不支持实验性 HID 接口开关，请先更新设备固件。", 10000));
    EXPECT_EQ(device.State()["hid_cfg"], "0");
}

TEST(EndToEnd, DoubleCommandWhileBusyRunsTheTaskOnce) {
    SimDevice device("reply_delay_ms=500");
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;
    ASSERT_TRUE(window.ConnectAndSync());
    device.ClearReceived();

    // Both arrive before the first task can have ended: the second meets the busy rule.
    ASSERT_TRUE(ProbePostCommand(main, IdReadVersionButton));
    ASSERT_TRUE(ProbePostCommand(main, IdReadVersionButton));
    ASSERT_TRUE(WaitForText(main, IdStatusLabel, L"当前固件版本: 1.0.0", 10000));
    ASSERT_TRUE(WaitForEnabled(main, IdReadVersionButton, true, 5000));
    EXPECT_EQ(CountOf(device.Received(), "box.info"), 1);
}

TEST(EndToEnd, ConnectIsRefusedWithoutAChoiceAndFailsOnAVanishedPort) {
    SimDevice device;
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;

    ASSERT_TRUE(ProbeSelectCombo(main, IdPortCombo, -1));
    ASSERT_TRUE(ProbePostCommand(main, IdConnectButton));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"请先选择串口。", 5000));
    EXPECT_EQ(TextOf(main, IdConnStateLabel), L"未连接");
    EXPECT_TRUE(ProbeEnabled(main, IdPortCombo));

    // The port is still listed, but the device has gone.
    ASSERT_TRUE(SelectPort(main, device.port()));
    device.Unplug();
    ASSERT_TRUE(ProbePostCommand(main, IdConnectButton));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"连接失败: 打开串口失败", 5000));
    EXPECT_EQ(TextOf(main, IdConnStateLabel), L"未连接");
    EXPECT_EQ(TextOf(main, IdConnectButton), L"连接串口");
    EXPECT_TRUE(ProbeEnabled(main, IdPortCombo));
    EXPECT_FALSE(ProbeEnabled(main, IdReadVersionButton));
}

TEST(EndToEnd, ClosingTheWindowDuringATaskEndsTheProgramAtOnce) {
    // A mute device keeps the sync waiting for its full 3500 ms.
    SimDevice device("mute=1");
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;
    ASSERT_TRUE(SelectPort(main, device.port()));
    ASSERT_TRUE(ProbePostCommand(main, IdConnectButton));
    ASSERT_TRUE(WaitForText(main, IdStatusLabel, L"正在同步设备状态...", 5000));
    ASSERT_FALSE(ProbeEnabled(main, IdConnectButton)) << "the task is running";

    const ULONGLONG closed = GetTickCount64();
    ASSERT_TRUE(PostMessageW(main, WM_CLOSE, 0, 0));
    ASSERT_TRUE(window.program.WaitForExit(2500)) << "still running while its task waits for the device";
    EXPECT_LT(GetTickCount64() - closed, 2500u);
    DWORD code = 1;
    GetExitCodeProcess(window.program.process(), &code);
    EXPECT_EQ(code, 0u);
}

TEST(ProgramFile, CarriesBothIconsAndAnAdministratorManifestWithNothingElse) {
    std::wstring path = L"Z:";
    for (const char* c = NORVA_PROGRAM_PATH; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(NORVA_ICON_LARGE), RT_GROUP_ICON), nullptr);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(NORVA_ICON_SMALL), RT_GROUP_ICON), nullptr);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(bytes, SizeofResource(image, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
    FreeLibrary(image);
}

namespace {
// What Windows sends every top-level window when a device comes or goes.
bool SendDeviceChange(HWND main) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(main, WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */, 0, SMTO_ABORTIFHUNG, 5000,
                               &result) != 0;
}

bool Lists(HWND main, const std::wstring& port) {
    ComboState combo;
    return ProbeCombo(main, IdPortCombo, combo) &&
           std::find(combo.items.begin(), combo.items.end(), port) != combo.items.end();
}
}  // namespace

TEST(EndToEnd, ThePortListFollowsTheSystemAndAnUnpluggedDeviceIsDisconnected) {
    SimDevice first;
    ProgramWindow window(first);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;
    ASSERT_TRUE(SelectPort(main, first.port()));

    // A device plugged in after the start is listed when the system says so; the choice and the status stay.
    SimDevice second;
    ASSERT_TRUE(second.plugged());
    EXPECT_FALSE(Lists(main, second.port()));
    ASSERT_TRUE(SendDeviceChange(main));
    EXPECT_TRUE(Lists(main, second.port()));
    EXPECT_EQ(TextOf(main, IdStatusLabel), L"就绪");
    ComboState combo;
    ASSERT_TRUE(ProbeCombo(main, IdPortCombo, combo));
    EXPECT_EQ(combo.items[static_cast<size_t>(combo.selection)], first.port());

    // Unplugged while connected: the window lets go of the dead port.
    ASSERT_TRUE(window.ConnectAndSync());
    first.Unplug();
    ASSERT_TRUE(SendDeviceChange(main));
    EXPECT_TRUE(WaitForText(main, IdStatusLabel, L"设备已拔出，串口已断开。", 5000)) << TextOf(main, IdStatusLabel);
    EXPECT_EQ(TextOf(main, IdConnStateLabel), L"未连接");
    EXPECT_EQ(TextOf(main, IdConnectButton), L"连接串口");
    EXPECT_EQ(TextOf(main, IdCurrentVersionLabel), L"--");
    EXPECT_FALSE(Lists(main, first.port()));
    EXPECT_TRUE(ProbeEnabled(main, IdPortCombo));
    EXPECT_FALSE(ProbeEnabled(main, IdReadVersionButton));
}

// An owner-drawn button reports a double click as a click and then
// BN_DOUBLECLICKED: one disconnect, not a disconnect and a connect.
TEST(EndToEnd, ADoubleClickOnDisconnectDisconnectsOnce) {
    SimDevice device;
    ProgramWindow window(device);
    ASSERT_TRUE(window.Started());
    HWND main = window.main;
    ASSERT_TRUE(window.ConnectAndSync());
    ASSERT_TRUE(ProbePost(main, WM_COMMAND, MAKEWPARAM(IdConnectButton, BN_CLICKED), 0));
    ASSERT_TRUE(ProbePost(main, WM_COMMAND, MAKEWPARAM(IdConnectButton, BN_DOUBLECLICKED), 0));
    // A third command behind them shows when both have been handled.
    ASSERT_TRUE(ProbePost(main, WM_COMMAND, MAKEWPARAM(IdRefreshButton, BN_CLICKED), 0));
    ASSERT_TRUE(WaitForText(main, IdStatusLabel, L"串口列表已刷新。", 5000)) << TextOf(main, IdStatusLabel);
    EXPECT_EQ(TextOf(main, IdConnStateLabel), L"未连接");
    EXPECT_EQ(TextOf(main, IdConnectButton), L"连接串口");
}

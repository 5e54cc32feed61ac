#include "app/commands.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/device_watch.h"
#include "app/messages.h"
#include "app/window.h"
#include "app/window_state.h"
#include "app/worker.h"
#include "device/device_state.h"
#include "device/tasks.h"
#include "update/release_state.h"
#include "update/update_tasks.h"

namespace {

// Every task starts the same way; if no thread could be made, StartWorker has
// already cleared busy and the commands have to come back on screen.
void StartTask(std::function<void()> task) {
    g_app.busy = true;
    if (!StartWorker(g_app.mainWindow, std::move(task))) RefreshControls();
}

void Connect() {
    const LRESULT selection = SendMessageW(g_app.portCombo, CB_GETCURSEL, 0, 0);
    if (selection < 0) {
        PostStatus(L"请先选择串口。");
        return;
    }
    wchar_t name[64] = {};
    const LRESULT length = SendMessageW(g_app.portCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection), 0);
    if (length >= 0 && length < 64) {
        SendMessageW(g_app.portCombo, CB_GETLBTEXT, static_cast<WPARAM>(selection), reinterpret_cast<LPARAM>(name));
    }
    const std::wstring portName = name;
    std::wstring error;
    if (!OpenDevicePort(portName, error)) {
        PostStatus(L"连接失败: " + error);
    } else {
        // With a port open the update takes the device through its port, not a drive.
        g_window.bootloaderDrives.clear();
        PostStatus(L"已连接串口: " + portName);
        StartTask(DoSyncDeviceState);
    }
    RefreshControls();
}


// The commands that need an open port, with the state they start from.
void HandleDeviceCommand(int id, const DeviceStatus& device) {
    switch (id) {
    case IdReadVersionButton:
        StartTask(DoReadCurrentVersion);
        break;
    case IdCheckLatestButton:
        StartTask(DoCheckLatestVersion);
        break;
    case IdUpdateButton:
        StartTask(DoFirmwareUpdate);
        break;
    case IdMacroToggle:
        if (device.telemetryValid) {
            const bool on = !device.macroModeOn;
            StartTask([on] { DoSetMacroMode(on); });
        }
        break;
    case IdHidToggle:
        if (device.hidCtrlCfg != -1) {
            const bool enable = device.hidCtrlCfg != 1;
            // A device that does not come back from its re-enumeration takes
            // with it what the program knew for it, as an unplug does.
            StartTask([enable] { DoToggleHidControl(enable, ForgetRelease); });
        }
        break;
    default:
        break;
    }
}

// A device that sits in its boot loader (one RPI-RP2 drive, no port) is
// flashed from there.
void UpdateFromBootloaderDrive() {
    if (g_window.bootloaderDrives.size() != 1) return;
    const std::wstring root = g_window.bootloaderDrives.front();
    StartTask([root] { DoBootloaderUpdate(root); });
}

}  // namespace

void DisconnectDevice(const wchar_t* statusText) {
    CloseDevicePort();
    ForgetDeviceVersion();
    ForgetRelease();
    g_app.progressPercent = 0;
    InvalidateRect(g_app.progressBar, nullptr, TRUE);
    PostStatus(statusText);
    RefreshControls();
}

void HandleCommand(int id) {
    if (g_app.busy) return;
    switch (id) {
    case IdRefreshButton:
        RefreshPortList();
        PostStatus(L"串口列表已刷新。");
        LookForBootloaderDrives(DriveNews::Always);
        return;
    case IdConnectButton:
        if (DeviceLink().IsOpen()) {
            DisconnectDevice(L"串口已断开。");
        } else {
            Connect();
        }
        return;
    default:
        if (DeviceLink().IsOpen()) {
            HandleDeviceCommand(id, DeviceStatusNow());
        } else if (id == IdUpdateButton) {
            UpdateFromBootloaderDrive();
        }
        return;
    }
}

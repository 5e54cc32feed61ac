#include "app/commands.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "app/app_state.h"
#include "app/device_watch.h"
#include "app/refresh.h"
#include "device/device_state.h"
#include "device/tasks.h"
#include "task/messages.h"
#include "task/task_state.h"
#include "task/worker.h"
#include "update/workflow/update_tasks.h"
#include "view/control_ids.h"

namespace {

// Every task starts the same way; if no thread could be made, StartWorker has
// already cleared busy and the commands have to come back on screen.
void StartTask(std::function<void()> task) {
    NoteAtTaskStart();
    g_task.busy = true;
    if (!StartWorker(g_task.mainWindow, std::move(task))) RefreshControls();
}

void Connect() {
    const std::wstring portName = ChosenPortName();
    if (portName.empty()) {
        PostStatus(L"请先选择串口。");
        return;
    }
    std::wstring error;
    if (!OpenDevicePort(portName, error)) {
        PostStatus(L"连接失败: " + error);
    } else {
        // With a port open the update takes the device through its port, not a drive.
        g_app.bootloaderDrives.clear();
        g_app.offeredDrive.clear();
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
            StartTask([enable] { DoToggleHidControl(enable); });
        }
        break;
    default:
        break;
    }
}

// A device that sits in its boot loader (no port) is flashed from the drive the
// window offers for it.
void UpdateFromBootloaderDrive() {
    if (g_app.offeredDrive.empty()) return;
    const std::wstring root = g_app.offeredDrive;
    StartTask([root] { DoBootloaderUpdate(root); });
}

}  // namespace

void HandleCommand(int id) {
    if (g_task.busy) return;
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

#include "app/device_watch.h"

#include <dbt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/refresh.h"
#include "device/device_state.h"
#include "serial/port_list.h"
#include "task/messages.h"
#include "task/task_state.h"
#include "update/bootloader_drive.h"

namespace {

bool IsNewDrive(const std::vector<std::wstring>& before, const std::wstring& root) {
    return std::find(before.begin(), before.end(), root) == before.end();
}

void AnnounceDrives(const std::vector<std::wstring>& found, const std::vector<std::wstring>& before,
                    DriveNews news) {
    if (news == DriveNews::OnOffer) {
        // One drive is offered for flashing; the first time it is, the window says so.
        if (found.size() == 1 && IsNewDrive(before, found.front())) {
            PostStatus(L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。");
        }
        return;
    }
    if (news == DriveNews::OnChange && found == before) return;
    if (found.size() == 1) {
        PostStatus(L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。");
    } else if (found.size() > 1) {
        PostStatus(L"检测到多个 RPI-RP2 磁盘，请只连接一台设备。");
    } else if (news == DriveNews::OnChange && !before.empty()) {
        PostStatus(L"就绪");  // the drive has gone, and with it what it offered
    }
}

// The port list follows the system, an open port that is no longer listed is
// disconnected (its handle is dead, and every command on it would fail), and
// without an open port the drives are looked at.
void FollowPlugged(DriveNews news) {
    const PortNames ports = RefreshPortList();
    std::wstring openPort;
    if (DeviceLink().IsOpenAs(openPort)) {
        if (IsPortListed(ports, openPort)) return;
        DisconnectDevice(L"设备已拔出，串口已断开。");
    }
    LookForBootloaderDrives(news);
}

}  // namespace

void LookForBootloaderDrives(DriveNews news) {
    if (g_task.busy) return;
    const std::vector<std::wstring> before = g_app.bootloaderDrives;
    if (DeviceLink().IsOpen()) {
        g_app.bootloaderDrives.clear();
    } else {
        g_app.bootloaderDrives = ListBootloaderDrives();
        AnnounceDrives(g_app.bootloaderDrives, before, news);
    }
    RefreshControls();
}

void FollowDeviceChange(WPARAM event) {
    if (event != DBT_DEVNODES_CHANGED && event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    if (g_task.busy) return;
    FollowPlugged(DriveNews::OnChange);
}

void CatchUpAfterTask() {
    if (g_task.busy) return;
    FollowPlugged(DriveNews::OnOffer);
}

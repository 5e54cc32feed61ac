#include "app/device_watch.h"

#include <dbt.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/messages.h"
#include "app/window.h"
#include "app/window_state.h"
#include "device/device_state.h"
#include "serial/port_list.h"
#include "update/bootloader_drive.h"

namespace {

void AnnounceDrives(size_t found, size_t before, DriveNews news) {
    if (news == DriveNews::Never || (news == DriveNews::OnChange && found == before)) return;
    if (found == 1) {
        PostStatus(L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。");
    } else if (found > 1) {
        PostStatus(L"检测到多个 RPI-RP2 磁盘，请只连接一台设备。");
    } else if (news == DriveNews::OnChange && before > 0) {
        PostStatus(L"就绪");  // the drive has gone, and with it what it offered
    }
}

}  // namespace

void LookForBootloaderDrives(DriveNews news) {
    if (g_app.busy) return;
    const size_t before = g_window.bootloaderDrives.size();
    if (DeviceLink().IsOpen()) {
        g_window.bootloaderDrives.clear();
    } else {
        g_window.bootloaderDrives = ListBootloaderDrives();
        AnnounceDrives(g_window.bootloaderDrives.size(), before, news);
    }
    RefreshControls();
}

void FollowDeviceChange(WPARAM event) {
    if (event != DBT_DEVNODES_CHANGED && event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    if (g_app.busy) return;
    const std::vector<std::wstring> ports = EnumerateComPorts();
    FillPortCombo(g_app.portCombo, ports);
    std::wstring openPort;
    if (DeviceLink().IsOpenAs(openPort)) {
        if (IsPortListed(ports, openPort)) return;
        // The device was unplugged: the handle is dead, and every command on it would fail.
        DisconnectDevice(L"设备已拔出，串口已断开。");
    }
    LookForBootloaderDrives(DriveNews::OnChange);
}

#include "app/device_watch.h"

#include <dbt.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/refresh.h"
#include "device/device_state.h"
#include "serial/port_list.h"
#include "serial/serial_link.h"
#include "task/messages.h"
#include "task/task_state.h"
#include "update/image/bootloader_drive.h"
#include "update/release/release_state.h"

namespace {

// Says what the drives found mean and keeps the drive the window offers: the
// update command flashes that drive and no other.
void AnnounceDrives(const std::vector<std::wstring>& found, const std::vector<std::wstring>& before,
                    DriveNews news) {
    const std::wstring single = found.size() == 1 ? found.front() : std::wstring();
    if (news == DriveNews::OnOffer) {
        // A device left in its boot loader by the task (a copy its drive
        // refused, say) is offered for flashing. A drive that was there when
        // the task began is not news: the task's own last text says why it
        // ended, which the user must see, and such a drive (another board's,
        // say) is offered only if it was offered before the task.
        if (!single.empty() && g_app.drivesAtTaskStart.count(single) == 0) {
            g_app.offeredDrive = single;
            PostStatus(L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。");
        } else if (single != g_app.offeredDrive) {
            g_app.offeredDrive.clear();
        }
        return;
    }
    if (news == DriveNews::OnChange && found == before) return;
    g_app.offeredDrive = single;
    if (found.size() == 1) {
        PostStatus(L"检测到 BOOTSEL 模式的设备（RPI-RP2），可直接更新固件。");
    } else if (found.size() > 1) {
        PostStatus(L"检测到多个 RPI-RP2 磁盘，请只连接一台设备。");
    } else if (news == DriveNews::OnChange && !before.empty()) {
        PostStatus(L"就绪");  // the drive has gone, and with it what it offered
    }
}

// The port list follows the system, and an open port that has gone is let go
// of as on an unplug: every command on it would fail. A port is still there
// only while it is listed and its handle still reaches a device: a device that
// dropped off the bus (a loose cable, a reset, a replug) usually comes back
// under the same name within a second, and the handle to the old one is dead
// for good (and may keep the device from getting its name back). Then the
// drives are looked at.
void FollowPlugged(DriveNews news) {
    const PortNames ports = RefreshPortList();
    std::wstring openPort;
    if (DeviceLink().IsOpenAs(openPort) && !(IsPortListed(ports, openPort) && IsPortAlive(DeviceLink()))) {
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
        g_app.offeredDrive.clear();
    } else {
        g_app.bootloaderDrives = ListBootloaderDrives();
        AnnounceDrives(g_app.bootloaderDrives, before, news);
    }
    RefreshControls();
}

void NoteAtTaskStart() {
    g_app.drivesAtTaskStart = ListDriveRoots();
    g_app.portOpenAtTaskStart = DeviceLink().IsOpen();
}

void FollowDeviceChange(WPARAM event) {
    if (event != DBT_DEVNODES_CHANGED && event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    if (g_task.busy) return;
    FollowPlugged(DriveNews::OnChange);
}

void CatchUpAfterTask() {
    if (g_task.busy) return;
    // The device the task began with has been let go of (its port closed and
    // its version forgotten: it did not come back from its HID switch), and
    // what was known for it goes with it, as on an unplug. An update that ends
    // with the port closed still knows the device's version, and the release.
    if (g_app.portOpenAtTaskStart && !DeviceLink().IsOpen() && KnownDeviceVersion().empty()) ForgetRelease();
    FollowPlugged(DriveNews::OnOffer);
}

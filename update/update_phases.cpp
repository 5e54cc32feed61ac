#include "update/update_phases.h"

#include <windows.h>

#include "app/messages.h"
#include "base/utf8.h"
#include "device/device_state.h"
#include "device/queries.h"
#include "serial/port_list.h"
#include "serial/serial_link.h"
#include "update/http_download.h"
#include "update/image_digest.h"
#include "update/uf2_image.h"
#include "update/uf2_name.h"
#include "update/version.h"

namespace {

// Waits of the update, in milliseconds.
constexpr DWORD kAfterBootselMs = 450;         // the device needs a moment to act on the command
constexpr ULONGLONG kDriveWaitMs = 20000;      // longest wait for the boot loader's drive
constexpr DWORD kDrivePollMs = 400;
constexpr DWORD kAfterCopyMs = 1000;           // the boot ROM flashes and reboots
constexpr ULONGLONG kReconnectWaitMs = 25000;  // longest wait for the port to come back
constexpr DWORD kReconnectPollMs = 1000;

using PortNames = std::vector<std::wstring>;

bool WaitForBootloaderDrive(const DriveRootSet& drivesBefore, std::wstring& root) {
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kDriveWaitMs) {
        if (FindBootloaderDrive(drivesBefore, root)) return true;
        Sleep(kDrivePollMs);
    }
    return false;
}

// The port the device came back on, and what it said its version is.
struct Reconnection {
    bool reconnected = false;
    bool versionRead = false;
    std::string version;
};

// Opens a port that was not there before and keeps it only when the device
// answers the version query on it: it may be another program's device.
bool OpenAnsweringPort(const std::wstring& name, Reconnection& found) {
    std::wstring error;
    if (!OpenDevicePort(name, error)) return false;
    if (!ReadFirmwareVersion(found.version, error)) {
        CloseDevicePort();
        return false;
    }
    found.reconnected = found.versionRead = true;
    return true;
}

// Looks for the device every 1000 ms for up to 25000 ms. The saved port (none
// after a copy onto a drive that was already there) is reopened once it is
// listed again, answering or not; while it is not listed, a port that was not
// listed before is tried instead. Windows may give a device a new COM number
// when it comes back on another USB port or with another identity.
Reconnection AwaitDevicePort(const std::wstring& savedPortName, const PortNames& portsBefore) {
    Reconnection found;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kReconnectWaitMs) {
        const PortNames ports = EnumerateComPorts();
        std::wstring error;
        if (!savedPortName.empty() && IsPortListed(ports, savedPortName)) {
            // A port can be listed a moment before it can be opened: try again then.
            if (OpenDevicePort(savedPortName, error)) {
                found.reconnected = true;
                found.versionRead = ReadFirmwareVersion(found.version, error);
                return found;
            }
        } else {
            for (const std::wstring& port : ports) {
                if (!IsPortListed(portsBefore, port) && OpenAnsweringPort(port, found)) return found;
            }
        }
        Sleep(kReconnectPollMs);
    }
    return found;
}

// The last text of an update. A device that still reports a version older
// than the one just written did not take the image (the boot ROM ignored it):
// that is no success.
void ReportOutcome(const Reconnection& found) {
    if (found.versionRead) StoreDeviceVersion(found.version);
    PostRefresh();
    if (!found.reconnected) {
        PostStatus(L"固件已更新，但设备未自动重连，请手动重新连接。");
        return;
    }
    const KnownVersions known = ReadKnownVersions();
    if (found.versionRead && UpdateAvailable(known.current, known.latest)) {
        PostStatus(L"固件已写入，但设备仍报告旧版本 " + Utf8ToWide(known.current) + L"，请重试更新。");
        return;
    }
    PostStatus(L"固件更新完成，设备已重连。");
}

}  // namespace

bool ReadDeviceVersion(std::wstring& error) {
    std::string version;
    if (!ReadFirmwareVersion(version, error)) return false;
    StoreDeviceVersion(version);
    PostRefresh();
    return true;
}

bool FetchLatestRelease(std::wstring& error) {
    ReleaseManifest manifest;
    if (!FetchReleaseManifest(manifest, error)) return false;
    StoreRelease(manifest);
    PostRefresh();
    return true;
}

bool MakeSureVersionsAreKnown(UpdateRun& run) {
    // What the last check found is used as it is; only what is missing is asked for.
    std::wstring error;
    if (ReadKnownVersions().current.empty() && !ReadDeviceVersion(error)) {
        PostStatus(L"读取当前版本失败: " + error);
        return false;
    }
    run.known = ReadKnownVersions();
    if ((run.known.latest.empty() || run.known.downloadUrl.empty()) && !FetchLatestRelease(error)) {
        PostStatus(L"获取远程版本信息失败: " + error);
        return false;
    }
    run.known = ReadKnownVersions();
    if (!UpdateAvailable(run.known.current, run.known.latest)) {
        PostStatus(L"当前版本已是最新，无需更新。");
        return false;
    }
    return true;
}

bool DownloadAndCheckImage(UpdateRun& run) {
    PostStatus(L"正在下载 UF2 固件...");
    std::wstring error;
    if (!HttpDownload(Utf8ToWide(run.known.downloadUrl), run.image, error)) {
        PostStatus(L"下载 UF2 失败: " + error);
        return false;
    }
    if (run.image.empty()) {
        PostStatus(L"下载的 UF2 文件为空。");
        return false;
    }
    // With the manifest fetched over https, an image that hashes as the
    // manifest says is as trustworthy as the manifest itself.
    std::string digest;
    if (!run.known.imageSha256.empty() && (!ImageSha256(run.image, digest) || digest != run.known.imageSha256)) {
        PostStatus(L"下载的固件校验失败（SHA-256 不一致）。");
        return false;
    }
    // An error page served with status 200, a cut-off file or an image for
    // another chip would leave the device waiting in its boot loader with
    // nothing written.
    if (CheckRp2040Uf2Image(run.image.data(), run.image.size()) != Uf2Check::Ok) {
        PostStatus(L"下载的 UF2 文件无效。");
        return false;
    }
    return true;
}

bool RebootIntoBootloader(UpdateRun& run) {
    run.savedPortName = DeviceLink().Name();
    run.fileName = BuildUf2FileName(run.known.downloadUrl);
    run.drivesBefore = ListDriveRoots();
    run.portsBefore = EnumerateComPorts();

    PostStatus(L"正在发送 sys.bootsel()...");
    if (!WriteCommandLine(DeviceLink(), "sys.bootsel()")) {
        PostStatus(L"发送 sys.bootsel() 失败。");
        return false;
    }
    Sleep(kAfterBootselMs);
    CloseDevicePort();
    PostRefresh();
    return true;
}

bool FindDriveAndWrite(UpdateRun& run) {
    PostStatus(L"正在等待 RPI-RP2 磁盘出现...");
    PostProgress(0);
    if (!WaitForBootloaderDrive(run.drivesBefore, run.driveRoot)) {
        PostStatus(L"未检测到 RPI-RP2，请手动进入 BOOTSEL 后重试。");
        return false;
    }
    return WriteImageToDrive(run);
}

bool WriteImageToDrive(const UpdateRun& run) {
    PostStatus(L"已检测到 RPI-RP2，正在写入固件...");
    std::wstring error;
    // The drive is looked at once more just before the copy: a letter that has
    // since gone to another drive must not take the image.
    if (!IsBootloaderDrive(run.driveRoot)) {
        error = L"创建 UF2 文件失败";
    } else if (WriteUf2ToDrive(run.driveRoot, run.fileName, run.image, error)) {
        return true;
    }
    PostStatus(L"写入固件失败: " + error);
    return false;
}

void ReconnectAndReport(const UpdateRun& run) {
    PostStatus(L"固件写入完成，正在尝试重连串口...");
    PostProgress(100);
    Sleep(kAfterCopyMs);
    ReportOutcome(AwaitDevicePort(run.savedPortName, run.portsBefore));
}

void AwaitNewPortAndReport(const UpdateRun& run) {
    PostStatus(L"固件写入完成，正在等待设备串口出现...");
    PostProgress(100);
    Sleep(kAfterCopyMs);
    ReportOutcome(AwaitDevicePort(std::wstring(), run.portsBefore));
}

#include "update/update_tasks.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/messages.h"
#include "base/utf8.h"
#include "app/worker.h"
#include "device/queries.h"
#include "serial/port_list.h"
#include "serial/serial_link.h"
#include "update/bootloader_drive.h"
#include "update/http_download.h"
#include "update/manifest.h"
#include "update/uf2_image.h"
#include "update/uf2_name.h"
#include "update/version.h"

namespace {

// Waits of the update, in milliseconds.
constexpr DWORD kAfterBootselMs = 450;        // the device needs a moment to act on the command
constexpr ULONGLONG kDriveWaitMs = 20000;     // longest wait for the boot loader's drive
constexpr DWORD kDrivePollMs = 400;
constexpr DWORD kAfterCopyMs = 1000;          // the boot ROM flashes and reboots
constexpr ULONGLONG kReconnectWaitMs = 25000;  // longest wait for the port to come back
constexpr DWORD kReconnectPollMs = 1000;

struct KnownVersions {
    std::string current;
    std::string latest;
    std::string downloadUrl;
};

KnownVersions ReadKnownVersions() {
    SharedGuard guard(g_app.sharedLock);
    return KnownVersions{g_app.currentVersion, g_app.latestVersion, g_app.downloadUrl};
}

void StoreCurrentVersion(const std::string& version) {
    SharedGuard guard(g_app.sharedLock);
    g_app.currentVersion = version;
}

void StoreManifest(const ReleaseManifest& manifest) {
    SharedGuard guard(g_app.sharedLock);
    g_app.latestVersion = manifest.version;
    g_app.downloadUrl = manifest.downloadUrl;
}

// The version the device reports now, stored and shown.
bool ReadDeviceVersion(std::wstring& error) {
    std::string version;
    if (!ReadFirmwareVersion(version, error)) return false;
    StoreCurrentVersion(version);
    PostRefresh();
    return true;
}

// The newest release the update server names, stored and shown.
bool FetchLatestRelease(std::wstring& error) {
    ReleaseManifest manifest;
    if (!FetchReleaseManifest(manifest, error)) return false;
    StoreManifest(manifest);
    PostRefresh();
    return true;
}

bool PortListed(const std::wstring& name) {
    for (const std::wstring& port : EnumerateComPorts()) {
        if (_wcsicmp(port.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

bool WaitForBootloaderDrive(const DriveRootSet& drivesBefore, std::wstring& root) {
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kDriveWaitMs) {
        if (FindBootloaderDrive(drivesBefore, root)) return true;
        Sleep(kDrivePollMs);
    }
    return false;
}

// Reopens the port the device was on once it is listed again, and reads the
// version the new firmware reports. True when the port is open again.
bool ReconnectDevice(const std::wstring& savedPortName) {
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kReconnectWaitMs) {
        std::wstring error;
        // A port can be listed a moment before it can be opened: try again then.
        if (PortListed(savedPortName) && OpenSerialPort(savedPortName, error)) {
            std::string version;
            if (ReadFirmwareVersion(version, error)) StoreCurrentVersion(version);
            return true;
        }
        Sleep(kReconnectPollMs);
    }
    return false;
}

}  // namespace

void DoCheckLatestVersion() {
    BeginTask();
    PostStatus(L"正在读取当前固件版本...");
    PostProgress(0);

    std::wstring error;
    if (!ReadDeviceVersion(error)) {
        PostStatus(L"读取当前版本失败: " + error);
        return;
    }
    PostStatus(L"正在从 com.ini 获取最新版本...");
    if (!FetchLatestRelease(error)) {
        PostStatus(L"获取远程版本信息失败: " + error);
        return;
    }

    const KnownVersions known = ReadKnownVersions();
    if (UpdateAvailable(known.current, known.latest)) {
        PostStatus(L"检测到新固件: " + Utf8ToWide(known.latest));
    } else {
        PostStatus(L"当前版本已是最新，无需更新。");
    }
}

void DoFirmwareUpdate() {
    BeginTask();
    PostProgress(0);

    if (!TakeSharedSnapshot().connected()) {
        PostStatus(L"请先连接串口设备。");
        return;
    }

    // What the last check found is used as it is; only what is missing is asked for.
    std::wstring error;
    if (ReadKnownVersions().current.empty() && !ReadDeviceVersion(error)) {
        PostStatus(L"读取当前版本失败: " + error);
        return;
    }
    KnownVersions known = ReadKnownVersions();
    if ((known.latest.empty() || known.downloadUrl.empty()) && !FetchLatestRelease(error)) {
        PostStatus(L"获取远程版本信息失败: " + error);
        return;
    }
    known = ReadKnownVersions();
    if (!UpdateAvailable(known.current, known.latest)) {
        PostStatus(L"当前版本已是最新，无需更新。");
        return;
    }

    PostStatus(L"正在下载 UF2 固件...");
    std::vector<uint8_t> image;
    if (!HttpDownload(Utf8ToWide(known.downloadUrl), image, error)) {
        PostStatus(L"下载 UF2 失败: " + error);
        return;
    }
    if (image.empty()) {
        PostStatus(L"下载的 UF2 文件为空。");
        return;
    }
    // Nothing goes to the device unless the boot ROM would flash it: an error
    // page served with status 200, a cut-off file or an image for another chip
    // would leave the device waiting in its boot loader with nothing written.
    if (CheckRp2040Uf2Image(image.data(), image.size()) != Uf2Check::Ok) {
        PostStatus(L"下载的 UF2 文件无效。");
        return;
    }

    const std::wstring savedPortName = TakeSharedSnapshot().portName;
    const std::wstring fileName = BuildUf2FileName(known.downloadUrl);
    const DriveRootSet drivesBefore = ListDriveRoots();

    PostStatus(L"正在发送 sys.bootsel()...");
    if (!WriteCommandLine("sys.bootsel()")) {
        PostStatus(L"发送 sys.bootsel() 失败。");
        return;
    }
    Sleep(kAfterBootselMs);
    CloseSerialPort();
    PostRefresh();

    PostStatus(L"正在等待 RPI-RP2 磁盘出现...");
    PostProgress(0);
    std::wstring root;
    if (!WaitForBootloaderDrive(drivesBefore, root)) {
        PostStatus(L"未检测到 RPI-RP2，请手动进入 BOOTSEL 后重试。");
        return;
    }

    PostStatus(L"已检测到 RPI-RP2，正在写入固件...");
    if (!WriteUf2ToDrive(root, fileName, image, error)) {
        PostStatus(L"写入固件失败: " + error);
        return;
    }
    PostStatus(L"固件写入完成，正在尝试重连串口...");
    PostProgress(100);
    Sleep(kAfterCopyMs);

    const bool reconnected = ReconnectDevice(savedPortName);
    PostRefresh();
    PostStatus(reconnected ? L"固件更新完成，设备已重连。" : L"固件已更新，但设备未自动重连，请手动重新连接。");
}

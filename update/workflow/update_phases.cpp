#include "update/workflow/update_phases.h"

#include "base/utf8.h"
#include "base/wait.h"
#include "device/device_state.h"
#include "device/port_return.h"
#include "device/queries.h"
#include "device/reboot.h"
#include "serial/port_list.h"
#include "serial/serial_link.h"
#include "task/messages.h"
#include "update/download/http_download.h"
#include "update/release/image_digest.h"
#include "update/image/uf2_image.h"
#include "update/image/uf2_name.h"
#include "update/release/release_limits.h"
#include "update/workflow/update_stage.h"
#include "update/workflow/update_waits.h"
#include "update/release/version.h"

namespace {

// The window reads the stage on the refresh that follows.
void EnterStage(UpdateStage stage) {
    SetUpdateStage(stage);
    PostRefresh();
}

// What the window shows while a download or the copy moves: its text again
// with each new percentage.
void PostDownloadProgress(int32_t percent) {
    PostStatus(L"正在下载固件...");
    PostProgress(percent);
}

void PostCopyProgress(int32_t percent) {
    PostStatus(L"正在写入 UF2 到 RPI-RP2...");
    PostProgress(percent);
}

bool WaitForBootloaderDrive(const DriveRootSet& drivesBefore, std::wstring& root) {
    return PollUntil(DeadlineAfter(kDriveWaitMs), kDrivePollMs,
                     [&] { return FindBootloaderDrive(drivesBefore, root); });
}

// What the device said once it was looked for after the copy.
struct Reconnection {
    bool answered = false;  // its port is open again and it told its version there
    std::string version;
};

// Follows the device from kAfterCopyMs after the copy for up to
// kReconnectWaitMs: the saved port (none after a copy onto a drive that was
// already there) once it is listed again, else a port that was not listed
// before on which the device answers. Firmware on a USB stack brings its port
// back before its command loop runs, so an open port that has not answered yet
// is asked again kAskAgainMs after each unanswered question while it stays; a port that goes again is
// closed and looked for anew. Only an answer counts: a device still silent
// when the time is up is let go of.
Reconnection AwaitAnsweringDeviceAfterCopy(const std::wstring& savedPortName, const PortNames& portsBefore) {
    Reconnection found;
    PortSearch search;
    search.savedPortName = savedPortName;
    search.portsBefore = portsBefore;
    search.waitMs = kReconnectWaitMs;
    search.pollMs = kReconnectPollMs;
    const PortReturn back = AwaitAnsweringDevice(search, [&found] {
        std::wstring error;
        return ReadFirmwareVersion(found.version, error);
    }, kAskAgainMs);
    found.answered = back.answered;
    return found;
}

// How an update that reached the copy ended.
enum class UpdateOutcome {
    Updated,            // the device answered with a version at least the offered one
    NotReconnected,     // the device never answered after the copy
    OldVersionReported, // the device answered with a version older than the offered one: the image was not taken
    LateCopyFailure,    // the copy failed after the boot ROM had its blocks, and the device does not say it was flashed
};

// A device that still reports a version older than the one just written did
// not take the image (the boot ROM ignored it): that is no success. After a
// late copy error only the device back with the new version is a success.
UpdateOutcome JudgeOutcome(const Reconnection& found, const std::string& offered, bool lateCopyError) {
    const bool flashed = found.answered && !UpdateAvailable(found.version, offered);
    if (lateCopyError) return flashed ? UpdateOutcome::Updated : UpdateOutcome::LateCopyFailure;
    if (!found.answered) return UpdateOutcome::NotReconnected;
    return flashed ? UpdateOutcome::Updated : UpdateOutcome::OldVersionReported;
}

std::wstring OutcomeText(UpdateOutcome outcome, const std::string& reported, const std::wstring& lateCopyError) {
    switch (outcome) {
    case UpdateOutcome::Updated:
        return L"固件更新完成，设备已重连。";
    case UpdateOutcome::NotReconnected:
        return L"固件已更新，但设备未自动重连，请手动重新连接。";
    case UpdateOutcome::OldVersionReported:
        return L"固件已写入，但设备仍报告旧版本 " + Utf8ToWide(reported) + L"，请重试更新。";
    case UpdateOutcome::LateCopyFailure:
        break;
    }
    return L"写入固件失败: " + lateCopyError;
}

void ReportOutcome(const Reconnection& found, const std::wstring& lateCopyError) {
    if (found.answered) StoreDeviceVersion(found.version);
    const UpdateOutcome outcome = JudgeOutcome(found, ReadKnownVersions().latest, !lateCopyError.empty());
    if (outcome == UpdateOutcome::Updated) SetUpdateStage(UpdateStage::Succeeded);
    PostRefresh();
    PostStatus(OutcomeText(outcome, found.version, lateCopyError));
}

}  // namespace

void BeginUpdate() {
    SetUpdateStage(UpdateStage::Checking);
    BeginTask();
}

bool ReadDeviceVersion(std::wstring& error) {
    std::string version;
    if (!ReadFirmwareVersion(version, error)) return false;
    StoreDeviceVersion(version);
    PostRefresh();
    return true;
}

bool FetchLatestRelease(std::wstring& error) {
    ReleaseManifest manifest;
    if (!FetchReleaseManifest(manifest, error, PostDownloadProgress)) return false;
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
    EnterStage(UpdateStage::Downloading);
    PostStatus(L"正在下载 UF2 固件...");
    DownloadError failure;
    if (!HttpDownload(Utf8ToWide(run.known.downloadUrl), run.image, failure, kImageSizeLimit, PostDownloadProgress)) {
        PostStatus(L"下载 UF2 失败: " + failure.text);
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
    // nothing written; a program for RAM, an image whose pages the boot ROM's
    // erases lose, or one without a valid boot2 would leave it without the
    // new firmware.
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

    EnterStage(UpdateStage::Waiting);
    PostStatus(L"正在发送 " + RebootCommandText() + L"...");
    if (!RebootDeviceIntoBootloader()) {
        PostStatus(L"发送 " + RebootCommandText() + L" 失败。");
        return false;
    }
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

bool WriteImageToDrive(UpdateRun& run) {
    EnterStage(UpdateStage::Copying);
    PostStatus(L"已检测到 RPI-RP2，正在写入固件...");
    std::wstring error;
    size_t handedOver = 0;
    // The drive is looked at once more just before the copy: a letter that has
    // since gone to another drive must not take the image.
    if (!IsBootloaderDrive(run.driveRoot)) {
        error = L"创建 UF2 文件失败";
    } else if (WriteUf2ToDrive(run.driveRoot, run.fileName, run.image, error, PostCopyProgress, &handedOver)) {
        return true;
    } else {
        // The boot ROM reboots about a second after the last block it flashes
        // and takes its drive with it, so a write after that block can fail
        // on a device that has been flashed.
        const size_t flashEnd = Rp2040FlashEnd(run.image.data(), run.image.size());
        if (flashEnd > 0 && handedOver >= flashEnd) {
            run.lateCopyError = error;
            return true;
        }
    }
    PostStatus(L"写入固件失败: " + error);
    return false;
}

void ReconnectAndReport(const UpdateRun& run) {
    EnterStage(UpdateStage::Waiting);
    PostStatus(L"固件写入完成，正在尝试重连串口...");
    PostProgress(100);
    Pause(kAfterCopyMs);
    ReportOutcome(AwaitAnsweringDeviceAfterCopy(run.savedPortName, run.portsBefore), run.lateCopyError);
}

void AwaitNewPortAndReport(const UpdateRun& run) {
    EnterStage(UpdateStage::Waiting);
    PostStatus(L"固件写入完成，正在等待设备串口出现...");
    PostProgress(100);
    Pause(kAfterCopyMs);
    ReportOutcome(AwaitAnsweringDeviceAfterCopy(std::wstring(), run.portsBefore), run.lateCopyError);
}

#include "update/workflow/update_tasks.h"

#include "base/utf8.h"
#include "device/device_state.h"
#include "serial/port_list.h"
#include "task/messages.h"
#include "update/workflow/power_calls.h"
#include "update/image/uf2_name.h"
#include "update/workflow/update_phases.h"
#include "update/release/version.h"

namespace {

// From an update's first step to its last, the system does not sleep for lack
// of input (a lid closed or Sleep chosen still sleeps): the request belongs to
// the updating thread and is withdrawn when the update ends, however it ends.
class StayAwake {
public:
    StayAwake() { Power().setThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }
    ~StayAwake() { Power().setThreadExecutionState(ES_CONTINUOUS); }
    StayAwake(const StayAwake&) = delete;
    StayAwake& operator=(const StayAwake&) = delete;
};

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
    const StayAwake awake;
    BeginUpdate();
    PostProgress(0);
    if (!DeviceLink().IsOpen()) {
        PostStatus(L"请先连接串口设备。");
        return;
    }
    UpdateRun run;
    if (!MakeSureVersionsAreKnown(run)) return;
    if (!DownloadAndCheckImage(run)) return;
    if (!RebootIntoBootloader(run)) return;
    if (!FindDriveAndWrite(run)) return;
    ReconnectAndReport(run);
}

void DoBootloaderUpdate(const std::wstring& driveRoot) {
    const StayAwake awake;
    BeginUpdate();
    PostProgress(0);
    // The device has no port and no version to tell: the newest release is
    // what goes onto the drive, checked as any image is. Nothing is sent to a
    // port before the copy.
    PostStatus(L"正在从 com.ini 获取最新版本...");
    std::wstring error;
    if (!FetchLatestRelease(error)) {
        PostStatus(L"获取远程版本信息失败: " + error);
        return;
    }
    UpdateRun run;
    run.known = ReadKnownVersions();
    if (!DownloadAndCheckImage(run)) return;
    run.fileName = BuildUf2FileName(run.known.downloadUrl);
    run.portsBefore = EnumerateComPorts();
    run.driveRoot = driveRoot;
    if (!WriteImageToDrive(run)) return;
    AwaitNewPortAndReport(run);
}

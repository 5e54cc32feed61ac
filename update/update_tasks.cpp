#include "update/update_tasks.h"

#include "app/messages.h"
#include "base/utf8.h"
#include "device/device_state.h"
#include "update/update_phases.h"
#include "update/version.h"

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

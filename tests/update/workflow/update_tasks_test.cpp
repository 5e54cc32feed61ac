#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "base/clock_calls.h"
#include "device/device_state.h"
#include "serial/comm_calls.h"
#include "serial/serial_link.h"
#include "tests/support/device_helpers.h"
#include "tests/support/known_state.h"
#include "tests/support/message_sink.h"
#include "tests/support/shortened_waits.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "update/image/bootloader_drive.h"
#include "update/release/image_digest.h"
#include "update/release/release_state.h"
#include "update/download/download_pace.h"
#include "update/image/volume_calls.h"
#include "update/workflow/update_tasks.h"
#include "update/workflow/update_waits.h"

// The check and update tasks end to end below the window: a simulated device
// that reboots into a simulated RP2040 boot loader, the local update server,
// and the test standing in for the window. The stories of the long waits run
// them shortened (tests/support/shortened_waits.h), and the simulated world's
// delays with them.

namespace {

using Texts = std::vector<std::wstring>;

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string ImageUrl(const std::string& path) { return Ascii(UpdateServerUrl(path)); }

// The status texts with repeats in a row (one per piece read or written) folded.
Texts DistinctStatuses(const MessageSink& sink) {
    Texts texts;
    for (const std::wstring& text : sink.Statuses())
        if (texts.empty() || texts.back() != text) texts.push_back(text);
    return texts;
}

class UpdateTask : public ::testing::Test {
protected:
    void SetUp() override { ResetUpdateServer(); }
    void TearDown() override { CloseDevicePort(); }

    void Open(SimDevice& device) { ASSERT_TRUE(OpenDevice(device)); }
    // What a check left behind, so that an update asks neither the device nor the server.
    void Know(const std::string& current, const std::string& latest, const std::string& url) {
        KnowVersions(current, latest, url);
    }
    // What a check against a device at 1.0.0 would have left: an image carrying
    // `version` at `path`, known as the latest.
    void KnowNewerImage(const std::string& path, const std::string& version, const std::string& variant = "good") {
        ServeImage(path, version, 4096, variant);
        Know("1.0.0", version, ImageUrl(path));
    }
    // Publishes an image at `path` and a manifest that names it.
    std::string Publish(const std::string& path, const std::string& version, const std::string& variant = "good",
                        size_t size = 65536) {
        const std::string image = ServeImage(path, version, size, variant);
        ServeManifest("[firmware]\r\nversion = " + version + "\r\nxzdz = " + ImageUrl(path) + "\r\n");
        return image;
    }
    void Run(void (*task)(), DWORD timeoutMs = 90000) { ASSERT_TRUE(RunTask(sink, task, timeoutMs)); }
    // The simulated boot loader's delays in the program's time under `waits`:
    // its drive `driveMs` after the reboot, its port back `returnMs` after the
    // drive has gone (the simulator's own, in real time: 1500 and 500).
    static std::string FlashDelays(const ShortenedWaits& waits, uint64_t driveMs = 1500, uint64_t returnMs = 500) {
        return " drive_delay_ms=" + std::to_string(waits.RealMs(driveMs)) +
               " return_delay_ms=" + std::to_string(waits.RealMs(returnMs));
    }

    SharedSnapshot Shared() { return TakeSharedSnapshot(); }

    MessageSink sink;
    CallsOverride<CommCalls> comm;
};

const Texts kCompleteUpdate = {
    L"正在下载 UF2 固件...",
    L"正在下载固件...",
    L"正在发送 sys.bootsel()...",
    L"正在等待 RPI-RP2 磁盘出现...",
    L"已检测到 RPI-RP2，正在写入固件...",
    L"正在写入 UF2 到 RPI-RP2...",
    L"固件写入完成，正在尝试重连串口...",
    L"固件更新完成，设备已重连。",
};

}  // namespace

// --- the check ---

TEST_F(UpdateTask, CheckFindsNewerFirmware) {
    SimDevice device("fw=1.0.0");
    Open(device);
    Publish("/fw/check-newer.uf2", "1.2.0");
    Run(DoCheckLatestVersion);
    EXPECT_EQ(DistinctStatuses(sink), (Texts{L"正在读取当前固件版本...", L"正在从 com.ini 获取最新版本...",
                                             L"正在下载固件...", L"检测到新固件: 1.2.0"}));
    const SharedSnapshot shared = Shared();
    EXPECT_EQ(shared.device.currentVersion, "1.0.0");
    EXPECT_EQ(shared.latestVersion, "1.2.0");
    EXPECT_EQ(ReadKnownVersions().downloadUrl, ImageUrl("/fw/check-newer.uf2"));
    EXPECT_EQ(sink.ProgressValues().front(), 0);
    EXPECT_EQ(sink.ProgressValues().back(), 100);
    EXPECT_TRUE(shared.connected);
}

TEST_F(UpdateTask, CheckWithTheSameOrAnOlderVersionSaysItIsCurrent) {
    for (const char* latest : {"1.2.0", "1.1.9", "v16.9"}) {
        SCOPED_TRACE(latest);
        SimDevice device("fw=1.2.0");
        Open(device);
        Publish("/fw/check-same.uf2", latest);
        sink.Clear();
        Run(DoCheckLatestVersion);
        EXPECT_EQ(sink.Statuses().back(), L"当前版本已是最新，无需更新。");
        EXPECT_EQ(Shared().latestVersion, latest);
        CloseDevicePort();
    }
}

TEST_F(UpdateTask, CheckWhoseManifestCannotBeHadKeepsWhatWasKnown) {
    SimDevice device("fw=1.0.0");
    Open(device);
    Know("", "0.9.0", "http://old/x.uf2");
    ServeManifest("not found", "status=404");
    Run(DoCheckLatestVersion);
    EXPECT_EQ(sink.Statuses().back(), L"获取远程版本信息失败: HTTP 状态码 404");

    ServeManifest("version=2.0.0\r\n; no download address\r\n");
    sink.Clear();
    Run(DoCheckLatestVersion);
    EXPECT_EQ(sink.Statuses().back(), L"获取远程版本信息失败: com.ini 格式错误，缺少 version 或 xzdz");
    EXPECT_EQ(Shared().latestVersion, "0.9.0");
    EXPECT_EQ(ReadKnownVersions().downloadUrl, "http://old/x.uf2");
    EXPECT_EQ(Shared().device.currentVersion, "1.0.0");
}

TEST_F(UpdateTask, CheckWhoseDeviceDoesNotAnswerAsksNoServer) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    Run(DoCheckLatestVersion);
    EXPECT_EQ(sink.Statuses(), (Texts{L"正在读取当前固件版本...", L"读取当前版本失败: 读取固件版本超时"}));
    EXPECT_TRUE(ServedRequests().empty());
}

// --- the update, all the way ---

TEST_F(UpdateTask, UpdateFlashesTheNewImageAndReconnects) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0 app=1" + FlashDelays(waits));
    Open(device);
    Publish("/fw/norva1-1.2.0.uf2", "1.2.0", "good", 200000);
    Run(DoFirmwareUpdate);
    // Nothing was known: the version and the manifest are read first, without texts of their own
    // (the manifest download shows the download's text).
    Texts expected = kCompleteUpdate;
    expected.insert(expected.begin(), L"正在下载固件...");
    EXPECT_EQ(DistinctStatuses(sink), expected);
    const SharedSnapshot shared = Shared();
    EXPECT_TRUE(shared.connected);
    EXPECT_EQ(shared.portName, device.port());
    EXPECT_EQ(shared.device.currentVersion, "1.2.0");
    EXPECT_EQ(shared.latestVersion, "1.2.0");
    auto state = device.State();
    EXPECT_EQ(state["flashed"], "1");
    EXPECT_EQ(state["fw"], "1.2.0");
    EXPECT_EQ(state["last_uf2"], "norva1-1.2.0.uf2");
    // The bar: 0 at the start, the download, 0 while waiting for the drive, the copy, 100 at the end.
    const std::vector<int32_t> progress = sink.ProgressValues();
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_NE(std::find(progress.begin() + 1, progress.end(), 0), progress.end());
}

TEST_F(UpdateTask, UpdateWithEverythingKnownAsksNeitherDeviceNorServerFirst) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0" + FlashDelays(waits));
    Open(device);
    KnowNewerImage("/fw/known.uf2", "1.3.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件更新完成，设备已重连。");
    EXPECT_EQ(device.Received().rfind("sys.bootsel()\n", 0), 0u);  // the first thing the device heard
    const std::vector<ServedRequest> served = ServedRequests();
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(served[0].target, "/fw/known.uf2");
    EXPECT_EQ(Shared().device.currentVersion, "1.3.0");
}

// The boot ROM took the copy but the device still runs the old firmware: no success.
TEST_F(UpdateTask, ADeviceStillReportingItsOldVersionAfterFlashingIsToldToRetry) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0 keep_version=1" + FlashDelays(waits));
    Open(device);
    KnowNewerImage("/fw/same.uf2", "1.4.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件已写入，但设备仍报告旧版本 1.0.0，请重试更新。");
    EXPECT_TRUE(Shared().connected);
    EXPECT_EQ(Shared().device.currentVersion, "1.0.0");
    EXPECT_EQ(device.State()["flashed"], "1");
}

// Windows gave the device another COM number when it came back: the saved
// port never returns, and the new one, on which the device answers, is taken.
TEST_F(UpdateTask, ADeviceBackUnderAnotherComNumberIsFoundThere) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0 return_com=new" + FlashDelays(waits));
    Open(device);
    KnowNewerImage("/fw/moved.uf2", "2.2.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件更新完成，设备已重连。");
    const std::string now = device.State()["name"];
    ASSERT_NE(now, device.name());
    const SharedSnapshot shared = Shared();
    EXPECT_TRUE(shared.connected);
    EXPECT_EQ(Ascii(shared.portName), now);
    EXPECT_EQ(shared.device.currentVersion, "2.2.0");
}

TEST_F(UpdateTask, APortListedBeforeItCanBeOpenedIsTriedAgain) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0 list_before_open_ms=" + std::to_string(waits.RealMs(2500)) + FlashDelays(waits));
    Open(device);
    KnowNewerImage("/fw/listed.uf2", "2.0.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件更新完成，设备已重连。");
    EXPECT_EQ(Shared().device.currentVersion, "2.0.0");
}

TEST_F(UpdateTask, ADriveAndPortThatTakeTheirTimeAreWaitedFor) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0" + FlashDelays(waits, 17000, 11000));
    Open(device);
    KnowNewerImage("/fw/slow.uf2", "2.1.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件更新完成，设备已重连。");
    EXPECT_EQ(Shared().device.currentVersion, "2.1.0");
}

// Firmware on a USB stack brings its port back before its command loop runs:
// the device is asked again until it answers, and only its answer makes the
// update a success.
TEST_F(UpdateTask, ADeviceSilentForSecondsAfterItsFlashIsReconnectedOnceItAnswers) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0 boot_mute_ms=" + std::to_string(waits.RealMs(6000)) + FlashDelays(waits, 500));
    Open(device);
    KnowNewerImage("/fw/quiet.uf2", "2.2.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件更新完成，设备已重连。");
    EXPECT_TRUE(Shared().connected);
    EXPECT_EQ(Shared().device.currentVersion, "2.2.0");
}

TEST_F(UpdateTask, ADeviceSilentPastTheReconnectPeriodIsNeverCalledUpdated) {
    ShortenedWaits waits(10);
    SimDevice device("fw=1.0.0 boot_mute_ms=" + std::to_string(waits.RealMs(60000)) + FlashDelays(waits, 500));
    Open(device);
    KnowNewerImage("/fw/silent.uf2", "2.3.0");
    Run(DoFirmwareUpdate);
    const Texts texts = DistinctStatuses(sink);
    EXPECT_EQ(texts.back(), L"固件已更新，但设备未自动重连，请手动重新连接。");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), L"固件更新完成，设备已重连。"), 0);
    EXPECT_FALSE(Shared().connected);
    EXPECT_EQ(Shared().device.currentVersion, "1.0.0");
    EXPECT_EQ(device.State()["flashed"], "1");
}

// --- the update's failures, and the port each leaves ---

TEST_F(UpdateTask, UpdateWithoutAPort) {
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Trace(), (Texts{L"refresh", L"progress 0", L"status 请先连接串口设备。", L"done"}));
}

TEST_F(UpdateTask, UpdateWhenNothingNewerDownloadsNothingAndTellsTheDeviceNothing) {
    SimDevice device("fw=1.2.0");
    Open(device);
    Publish("/fw/not-newer.uf2", "1.2.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"当前版本已是最新，无需更新。");
    for (const ServedRequest& request : ServedRequests()) EXPECT_EQ(request.target, "/com.ini");
    EXPECT_EQ(device.Received(), "box.info\ntelemetry.once\n");
}

TEST_F(UpdateTask, UpdateWhoseQueriesFailStopsBeforeAnyDownload) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses(), Texts{L"读取当前版本失败: 读取固件版本超时"});

    device.Set("mute=0");
    ServeManifest("", "status=500");
    sink.Clear();
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"获取远程版本信息失败: HTTP 状态码 500");
    EXPECT_TRUE(Shared().connected);
}

TEST_F(UpdateTask, AnImageThatCannotBeDownloadedLeavesThePortOpen) {
    SimDevice device("fw=1.0.0");
    Open(device);
    Know("1.0.0", "1.1.0", ImageUrl("/fw/missing.uf2"));
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses(), (Texts{L"正在下载 UF2 固件...", L"下载 UF2 失败: HTTP 状态码 404"}));
    EXPECT_TRUE(Shared().connected);
    EXPECT_EQ(device.Received(), "");
}

// Each piece comes well within the library's time-outs, yet the image would
// take over two minutes: the download ends at its first look past the pace's
// window, when the piece after it comes.
TEST_F(UpdateTask, AnImageThatDripsFailsWithinFiftySecondsWithThePortOpen) {
    SimDevice device("fw=1.0.0");
    Open(device);
    KnowNewerImage("/fw/drip.uf2", "1.1.0");
    ShortenedWaits waits(8);
    const uint64_t dripMs = 20000;
    SetDelivery("/fw/drip.uf2", "mode=trickle&chunk=512&delay=" + std::to_string(waits.RealMs(dripMs)));
    const ULONGLONG start = Clock().tickCount();
    Run(DoFirmwareUpdate);
    const ULONGLONG took = Clock().tickCount() - start;
    EXPECT_EQ(sink.Statuses().back(), L"下载 UF2 失败: 下载速度过慢");
    EXPECT_GE(took, kPaceWindowMs);
    EXPECT_LE(took, kPaceWindowMs + dripMs);
    EXPECT_TRUE(Shared().connected);
    EXPECT_EQ(device.Received(), "");
}

TEST_F(UpdateTask, AnEmptyOrInvalidImageIsNeverSentToTheDevice) {
    SimDevice device("fw=1.0.0 app=1");
    Open(device);
    ApplyDeviceRecord("TEL|app=1");
    ServeBytes("/fw/empty.uf2", "");
    Know("1.0.0", "1.1.0", ImageUrl("/fw/empty.uf2"));
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"下载的 UF2 文件为空。");

    for (const char* variant : {"html", "truncated", "wrong_family", "missing_block", "payload476"}) {
        SCOPED_TRACE(variant);
        const std::string path = std::string("/fw/bad-") + variant + ".uf2";
        KnowNewerImage(path, "1.1.0", variant);
        sink.Clear();
        Run(DoFirmwareUpdate);
        EXPECT_EQ(sink.Statuses().back(), L"下载的 UF2 文件无效。");
    }
    EXPECT_EQ(device.Received(), "");
    EXPECT_EQ(device.State()["mode"], "app");
    const SharedSnapshot shared = Shared();
    EXPECT_TRUE(shared.connected);
    EXPECT_TRUE(shared.device.macroModeOn);
}

TEST_F(UpdateTask, ARebootCommandThatCannotBeWrittenLeavesEverythingAsItWas) {
    SimDevice device("fw=1.0.0");
    Open(device);
    ApplyDeviceRecord("TEL|app=0;hid_ctrl_cfg=1");
    KnowNewerImage("/fw/nowrite.uf2", "1.1.0");
    comm->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"发送 sys.bootsel() 失败。");
    const SharedSnapshot shared = Shared();
    EXPECT_TRUE(shared.connected);
    EXPECT_TRUE(shared.device.telemetryValid);
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
}

TEST_F(UpdateTask, ADriveThatNeverComesIsGivenUpAfterTwentySecondsIgnoringOneAlreadyThere) {
    // Another board already sits in its boot loader: its drive must not be taken.
    OtherBoardsDrive other;
    ASSERT_NE(other.letter, 0);
    SimDevice device("fw=1.0.0 drive=never");
    Open(device);
    KnowNewerImage("/fw/nodrive.uf2", "1.1.0");
    ShortenedWaits waits(10);
    const ULONGLONG start = Clock().tickCount();
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"未检测到 RPI-RP2，请手动进入 BOOTSEL 后重试。");
    EXPECT_GE(Clock().tickCount() - start, kDriveWaitMs);
    EXPECT_FALSE(Shared().connected);
    EXPECT_EQ(Shared().device.hidCtrlCfg, -1);
    EXPECT_EQ(device.State()["flashed"], "0");
}

TEST_F(UpdateTask, ADriveThatRefusesTheImageEndsWithThePortClosed) {
    SimDevice device("fw=1.0.0 drive_readonly=1 drive_delay_ms=500");
    Open(device);
    KnowNewerImage("/fw/readonly.uf2", "1.1.0");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"写入固件失败: 创建 UF2 文件失败");
    EXPECT_FALSE(Shared().connected);
}

TEST_F(UpdateTask, ADeviceThatDoesNotComeBackIsReportedAfterTwentyFiveSeconds) {
    ShortenedWaits waits(10);
    SimDevice device("fw=1.0.0 return=never" + FlashDelays(waits, 500));
    Open(device);
    KnowNewerImage("/fw/noreturn.uf2", "1.1.0");
    const ULONGLONG start = Clock().tickCount();
    Run(DoFirmwareUpdate);
    EXPECT_GE(Clock().tickCount() - start, kAfterCopyMs + kReconnectWaitMs);
    EXPECT_EQ(sink.Statuses().back(), L"固件已更新，但设备未自动重连，请手动重新连接。");
    EXPECT_FALSE(Shared().connected);
    EXPECT_EQ(device.State()["flashed"], "1");
}

// The boot ROM reboots about a second after the last RP2040 block, whatever
// the host still writes (here the other chip's half of a combined image), and
// takes its drive with it: a write that fails then is judged by the device.
TEST_F(UpdateTask, ACopyThatFailsAfterTheLastRp2040BlockIsJudgedByTheDevice) {
    struct Case {
        const char* options;
        int failingPiece;  // the write that fails, counted from 1 (64 KiB each)
        const wchar_t* text;
        bool reconnects;
    };
    // 192 KiB: RP2040 blocks in the first 96 KiB, the other family's after them.
    ShortenedWaits waits(4);
    const Case cases[] = {
        {"fw=1.0.0", 3, L"固件更新完成，设备已重连。", true},
        {"fw=1.0.0 keep_version=1", 3, L"写入固件失败: 写入 UF2 失败", true},
        {"fw=1.0.0", 2, L"写入固件失败: 写入 UF2 失败", false},  // before the last RP2040 block: at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + ", piece " + std::to_string(c.failingPiece));
        SimDevice device(c.options + FlashDelays(waits));
        Open(device);
        ServeImage("/fw/combined.uf2", "1.6.0", 192 * 1024, "combined");
        Know("1.0.0", "1.6.0", ImageUrl("/fw/combined.uf2"));
        CallsOverride<VolumeCalls> volumes;
        static int writes, failing;
        writes = 0;
        failing = c.failingPiece;
        volumes->writeFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
            if (++writes != failing) return WriteFile(file, data, size, written, nullptr);
            *written = 0;
            SetLastError(ERROR_GEN_FAILURE);  // what a write to a drive that has gone gives
            return FALSE;
        };
        sink.Clear();
        Run(DoFirmwareUpdate);
        EXPECT_EQ(sink.Statuses().back(), c.text);
        const Texts texts = DistinctStatuses(sink);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), L"固件写入完成，正在尝试重连串口..."), c.reconnects ? 1 : 0);
        EXPECT_EQ(Shared().connected, c.reconnects);
        CloseDevicePort();
    }
}

// --- what the image must be ---

std::string Sha256Of(const std::string& bytes) {
    std::string digest;
    EXPECT_TRUE(ImageSha256(std::vector<uint8_t>(bytes.begin(), bytes.end()), digest));
    return digest;
}

TEST_F(UpdateTask, AnImageWithTheManifestsSha256IsFlashed) {
    ShortenedWaits waits(4);
    SimDevice device("fw=1.0.0" + FlashDelays(waits));
    Open(device);
    const std::string image = ServeImage("/fw/signed.uf2", "1.7.0", 65536);
    std::string digest = Sha256Of(image);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));  // either case
    ServeManifest("version=1.7.0\nxzdz=" + ImageUrl("/fw/signed.uf2") + "\nsha256=" + digest + "\n");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"固件更新完成，设备已重连。");
    EXPECT_EQ(Shared().device.currentVersion, "1.7.0");
}

TEST_F(UpdateTask, AnImageThatDoesNotHashAsTheManifestSaysReachesNothing) {
    SimDevice device("fw=1.0.0");
    Open(device);
    ServeImage("/fw/tampered.uf2", "1.7.0", 65536);
    // The digest of another good image: the file is a valid UF2, only not the one the manifest names.
    const std::string other = Sha256Of(SimUf2Image("1.7.0", 65536 + 512));
    ServeManifest("version=1.7.0\nxzdz=" + ImageUrl("/fw/tampered.uf2") + "\nsha256=" + other + "\n");
    Run(DoFirmwareUpdate);
    EXPECT_EQ(sink.Statuses().back(), L"下载的固件校验失败（SHA-256 不一致）。");
    EXPECT_TRUE(Shared().connected);
    EXPECT_EQ(device.Received().find("sys.bootsel()"), std::string::npos);
    EXPECT_EQ(device.State()["flashed"], "0");
}

TEST_F(UpdateTask, AManifestWithAMalformedSha256IsRefusedByTheCheck) {
    SimDevice device("fw=1.0.0");
    Open(device);
    ServeManifest("version=1.7.0\nxzdz=" + ImageUrl("/fw/x.uf2") + "\nsha256=12ab\n");
    Run(DoCheckLatestVersion);
    EXPECT_EQ(sink.Statuses().back(), L"获取远程版本信息失败: com.ini 中的 sha256 格式错误");
    EXPECT_EQ(Shared().latestVersion, "");
}

// An image URL on a server whose certificate the system does not trust, or
// that is made out for another host: the update ends before the device hears anything.
TEST_F(UpdateTask, AnImageFromAServerWithoutATrustedCertificateIsNotTaken) {
    ServeImage("/fw/tls.uf2", "2.0.0", 4096);
    for (TlsListener refused : {TlsListener::Untrusted, TlsListener::OtherHost}) {
        SCOPED_TRACE(static_cast<int>(refused));
        SimDevice device("fw=1.0.0");
        Open(device);
        Know("1.0.0", "2.0.0", Ascii(UpdateServerTlsUrl("/fw/tls.uf2", refused)));
        sink.Clear();
        Run(DoFirmwareUpdate);
        EXPECT_EQ(sink.Statuses().back(), L"下载 UF2 失败: HTTP 请求失败");
        EXPECT_EQ(device.Received(), "");
        EXPECT_TRUE(Shared().connected);
        CloseDevicePort();
    }
}

// --- a device that sits in its boot loader already ---

namespace {
// The one RPI-RP2 drive there is, as the window found it.
std::wstring TheBootloaderDrive() {
    const std::vector<std::wstring> drives = ListBootloaderDrives();
    EXPECT_EQ(drives.size(), 1u);
    return drives.empty() ? std::wstring() : drives.front();
}
}  // namespace

TEST_F(UpdateTask, ADeviceInItsBootLoaderIsFlashedAndFoundOnItsNewPort) {
    ShortenedWaits waits(4);
    SimDevice device("start=bootloader fw=0.9.0" + FlashDelays(waits));
    ASSERT_TRUE(device.plugged());
    Publish("/fw/norva1-1.5.0.uf2", "1.5.0");
    const std::wstring root = TheBootloaderDrive();
    ASSERT_TRUE(RunTask(sink, "DoBootloaderUpdate", [root] { DoBootloaderUpdate(root); }, 90000));
    EXPECT_EQ(DistinctStatuses(sink),
              (Texts{L"正在从 com.ini 获取最新版本...", L"正在下载固件...", L"正在下载 UF2 固件...",
                     L"正在下载固件...", L"已检测到 RPI-RP2，正在写入固件...", L"正在写入 UF2 到 RPI-RP2...",
                     L"固件写入完成，正在等待设备串口出现...", L"固件更新完成，设备已重连。"}));
    const SharedSnapshot shared = Shared();
    EXPECT_TRUE(shared.connected);
    EXPECT_EQ(shared.portName, device.port());
    EXPECT_EQ(shared.device.currentVersion, "1.5.0");
    EXPECT_EQ(shared.latestVersion, "1.5.0");
    // The port was first spoken to after the copy, and then only asked for its version.
    EXPECT_EQ(device.Received(), "box.info\ntelemetry.once\n");
    EXPECT_EQ(device.State()["last_uf2"], "norva1-1.5.0.uf2");
}

// The drive went before the copy; its letter may since name another drive,
// which must not take the image.
TEST_F(UpdateTask, ABootLoaderDriveThatHasGoneTakesNothing) {
    Publish("/fw/norva1-1.5.0.uf2", "1.5.0");
    const wchar_t gone = SimAddDrive();
    ASSERT_NE(gone, 0);
    const std::wstring root = std::wstring(1, gone) + L":\\";
    SimRemoveDrive(gone);
    ASSERT_TRUE(RunTask(sink, "DoBootloaderUpdate", [root] { DoBootloaderUpdate(root); }, 60000));
    EXPECT_EQ(sink.Statuses().back(), L"写入固件失败: 创建 UF2 文件失败");

    const wchar_t stick = SimAddDrive("label=USBSTICK");
    ASSERT_NE(stick, 0);
    const std::wstring stickRoot = std::wstring(1, stick) + L":\\";
    sink.Clear();
    ASSERT_TRUE(RunTask(sink, "DoBootloaderUpdate", [stickRoot] { DoBootloaderUpdate(stickRoot); }, 60000));
    EXPECT_EQ(sink.Statuses().back(), L"写入固件失败: 创建 UF2 文件失败");
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((stickRoot + L"*.uf2").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "an image landed on another drive";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    SimRemoveDrive(stick);
    EXPECT_FALSE(Shared().connected);
}

TEST_F(UpdateTask, ABootLoaderUpdateWhoseManifestCannotBeHadWritesNothing) {
    SimDevice device("start=bootloader");
    ASSERT_TRUE(device.plugged());
    ServeManifest("", "status=404");
    const std::wstring root = TheBootloaderDrive();
    ASSERT_TRUE(RunTask(sink, "DoBootloaderUpdate", [root] { DoBootloaderUpdate(root); }));
    EXPECT_EQ(sink.Statuses().back(), L"获取远程版本信息失败: HTTP 状态码 404");
    EXPECT_EQ(device.State()["flashed"], "0");
}

// One simulated firmware update, phase by phase, against the simulated device
// and boot loader and the local update server:
//   - a 1 MiB image: the time of each phase and the total as a ratio to its
//     floor, the simulator's own delays plus the waits the program must make
//     (450 ms after the reboot command, 1000 ms after the copy, one 400 ms drive
//     poll step and one 1000 ms reconnect poll step). Target: at most 1.15.
//   - a 16 MiB image: the memory the update adds to the process at its peak,
//     against the image size plus 16 MB; and the download rate of that image.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "device/device_state.h"
#include "serial/serial_link.h"
#include "tests/support/message_sink.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "update/http_download.h"
#include "update/update_tasks.h"

namespace {

constexpr int kDriveDelayMs = 1500;   // the simulated device: from sys.bootsel() to its drive
constexpr int kDriveGoneMs = 1000;    // the simulated boot ROM: from the whole image to the drive going
constexpr int kReturnDelayMs = 500;   // from the drive going to the port coming back
constexpr int kProgramWaitsMs = 450 + 1000 + 400 + 1000;
constexpr double kTarget = 1.15;

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

double FirstStatusAt(const MessageSink& sink, const wchar_t* text) {
    for (const PostedEvent& event : sink.events())
        if (event.kind == PostedEvent::Status && event.text == text) return event.atMs;
    return -1;
}

// Runs one update of the image already published at `path` (version 2.0.0).
bool RunUpdate(const std::string& path, MessageSink& sink) {
    SimDevice device("fw=1.0.0 drive_delay_ms=" + std::to_string(kDriveDelayMs) +
                     " return_delay_ms=" + std::to_string(kReturnDelayMs));
    std::wstring error;
    if (!device.plugged() || !OpenDevicePort(device.port(), error)) return false;
    {
        SharedGuard guard(g_app.sharedLock);
        g_app.device.currentVersion = "1.0.0";
        g_app.latestVersion = "2.0.0";
        g_app.downloadUrl = Ascii(UpdateServerUrl(path));
    }
    const bool done = RunTask(sink, DoFirmwareUpdate, 120000);
    const bool ok = done && sink.Statuses().back() == L"固件更新完成，设备已重连。";
    CloseDevicePort();
    return ok;
}

void Phases() {
    const std::string path = "/bench/update-1mib.uf2";
    ServeImage(path, "2.0.0", 1024 * 1024);
    MessageSink sink;
    if (!RunUpdate(path, sink)) {
        std::printf("update of 1 MiB: FAILED\n");
        return;
    }
    const double start = FirstStatusAt(sink, L"正在下载 UF2 固件...");
    const double rebooting = FirstStatusAt(sink, L"正在发送 sys.bootsel()...");
    const double driveSeen = FirstStatusAt(sink, L"已检测到 RPI-RP2，正在写入固件...");
    const double copied = FirstStatusAt(sink, L"固件写入完成，正在尝试重连串口...");
    const double end = sink.events().back().atMs;
    std::printf("update of a 1 MiB image, phase by phase (ms):\n");
    std::printf("  download                                %6.0f\n", rebooting - start);
    std::printf("  reboot to drive seen                    %6.0f\n", driveSeen - rebooting);
    std::printf("  copy                                    %6.0f\n", copied - driveSeen);
    std::printf("  drive gone to reconnected, version read %6.0f\n", end - copied);
    const double total = end - start;
    const double floor = kDriveDelayMs + kDriveGoneMs + kReturnDelayMs + kProgramWaitsMs;
    std::printf("  total %.0f ms, floor %.0f ms: ratio %.3f (target <= %.2f) %s\n", total, floor, total / floor,
                kTarget, total / floor <= kTarget ? "met" : "NOT MET");
}

// The image must already be published at `path` (by the caller, so that this
// process never holds a copy of its own before it measures).
void Download(const std::string& path) {
    std::vector<uint8_t> body;
    std::wstring error;
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    const bool downloaded = HttpDownload(UpdateServerUrl(path), body, error);
    QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart);
    if (!downloaded) {
        std::printf("download of %s: FAILED\n", path.c_str());
        return;
    }
    std::printf("download of %.1f MiB from the loopback server: %.2f s, %.1f MB/s\n",
                static_cast<double>(body.size()) / (1024 * 1024), seconds,
                static_cast<double>(body.size()) / seconds / 1e6);
}

void Memory(const std::string& path, size_t imageSize) {
    PROCESS_MEMORY_COUNTERS before{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    MessageSink sink;
    const bool updated = RunUpdate(path, sink);
    PROCESS_MEMORY_COUNTERS after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    const double baseMb = static_cast<double>(before.PeakWorkingSetSize) / 1e6;
    const double peakMb = static_cast<double>(after.PeakWorkingSetSize) / 1e6;
    const double limitMb = static_cast<double>(imageSize) / 1e6 + 16.0;
    std::printf("update of a %.0f MiB image: %s; peak working set %.1f MB, %.1f MB above the idle process\n",
                static_cast<double>(imageSize) / (1024 * 1024), updated ? "done" : "FAILED", peakMb, peakMb - baseMb);
    std::printf("  what the update adds, target <= image + 16 MB = %.1f MB: %s\n", limitMb,
                peakMb - baseMb <= limitMb ? "met" : "NOT MET");
}

}  // namespace

// bench_update_phases                 the 1 MiB update, phase by phase
// bench_update_phases download PATH   the download rate of an image published at PATH
// bench_update_phases memory PATH N   peak memory while updating the N-byte image at PATH
int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "phases";
    if (mode == "download" && argc > 2) {
        Download(argv[2]);
    } else if (mode == "memory" && argc > 3) {
        Memory(argv[2], static_cast<size_t>(std::strtoull(argv[3], nullptr, 10)));
    } else {
        Phases();
    }
    return 0;
}

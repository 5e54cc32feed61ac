// One simulated firmware update, phase by phase, against the simulated device
// and boot loader and the local update server:
//   - a 1 MiB image: the time of each phase and its excess over that phase's
//     floor, and the total as a ratio to the sum of the floors. A floor is the
//     least time any program obeying the same waits could take (see Phases).
//     Target: at most 1.25, room for the two poll steps the program must make
//     (400 ms for the drive, 1000 ms for the port coming back), which cost half
//     a step each on average.
//   - a 16 MiB image: the memory the update adds to the process at its peak,
//     against the image size plus 16 MB; and the download rate of that image.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "device/device_state.h"
#include "serial/serial_link.h"
#include "tests/support/known_state.h"
#include "tests/support/message_sink.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "update/download/http_download.h"
#include "update/release/release_limits.h"
#include "update/workflow/update_tasks.h"

namespace {

constexpr int kDriveDelayMs = 1500;   // the simulated device: from sys.bootsel() to its drive
constexpr int kDriveGoneMs = 1000;    // the simulated boot ROM: from the whole image to the drive going
constexpr int kReturnDelayMs = 500;   // from the drive going to the port coming back
constexpr int kBoxInfoPauseMs = 260;  // the version query's pause between box.info and telemetry.once
constexpr int kPlainTries = 3;        // a plain transfer, write or round trip: the fastest of these
constexpr double kTarget = 1.25;

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The least time of a few tries of `attempt` (which says whether it worked), or -1.
double Fastest(const std::function<bool()>& attempt) {
    double best = -1;
    for (int i = 0; i < kPlainTries; ++i) {
        const double begin = NowMs();
        if (!attempt()) return -1;
        const double took = NowMs() - begin;
        if (best < 0 || took < best) best = took;
    }
    return best;
}

double FirstStatusAt(const MessageSink& sink, const wchar_t* text) {
    for (const PostedEvent& event : sink.events())
        if (event.kind == PostedEvent::Status && event.text == text) return event.atMs;
    return -1;
}

// Runs one update of the image already published at `path` (version 2.0.0).
bool RunUpdate(SimDevice& device, const std::string& path, MessageSink& sink) {
    std::wstring error;
    if (!device.plugged() || !OpenDevicePort(device.port(), error)) return false;
    KnowVersions("1.0.0", "2.0.0", Ascii(UpdateServerUrl(path)));
    const bool done = RunTask(sink, DoFirmwareUpdate, 120000);
    const bool ok = done && sink.Statuses().back() == L"固件更新完成，设备已重连。";
    CloseDevicePort();
    return ok;
}

std::string BenchDevice() {
    return "fw=1.0.0 drive_delay_ms=" + std::to_string(kDriveDelayMs) +
           " return_delay_ms=" + std::to_string(kReturnDelayMs);
}

// The image's bytes from the update server over a plain loopback socket: one
// HTTP/1.0 GET, read until the server closes. True when a body of `size` bytes came.
bool PlainTransfer(const std::string& path, size_t size) {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const std::wstring url = UpdateServerUrl(path);  // http://127.0.0.1:PORT/...
    const size_t colon = url.find(L':', 7);
    const u_short port = static_cast<u_short>(std::wcstoul(url.c_str() + colon + 1, nullptr, 10));
    SOCKET s = started ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    std::string head;  // up to the end of the headers
    size_t received = 0;
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size())) {
        static char buffer[1 << 18];
        for (int got; (got = recv(s, buffer, sizeof buffer, 0)) > 0;) {
            if (head.size() < 4096) head.append(buffer, std::min<size_t>(static_cast<size_t>(got), 4096));
            received += static_cast<size_t>(got);
        }
    }
    closesocket(s);
    const size_t body = head.find("\r\n\r\n");
    return body != std::string::npos && received - (body + 4) == size;
}

// The image's bytes written with one WriteFile into a new file, then removed.
bool PlainWrite(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return ok;
}

// telemetry.once and its answer line on the raw port, read without any pause.
bool PlainRoundTrip(const std::wstring& portName) {
    const HANDLE port = CreateFileW((L"\\\\.\\" + portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    // Every read returns at once with what has arrived.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = 800;
    SetCommTimeouts(port, &timeouts);
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    const char command[] = "telemetry.once\n";
    DWORD written = 0;
    bool ok = WriteFile(port, command, sizeof command - 1, &written, nullptr) && written == sizeof command - 1;
    std::string answer;
    const double giveUp = NowMs() + 2000;
    while (ok && answer.find('\n') == std::string::npos && NowMs() < giveUp) {
        char chunk[512];
        DWORD got = 0;
        ok = ReadFile(port, chunk, sizeof chunk, &got, nullptr) != 0;
        answer.append(chunk, got);
    }
    CloseHandle(port);
    return ok && answer.compare(0, 4, "TEL|") == 0;
}

void PrintPhase(const char* name, double took, double floor) {
    std::printf("  %-44s %6.0f %6.0f %+7.0f\n", name, took, floor, took - floor);
}

// Each phase against its own floor, the least any program obeying the same
// waits could take there:
//   - download: the same bytes from the same server over a plain loopback
//     socket. Any client has to move them; what the program spends beyond that
//     (WinHTTP, a status and a progress post per piece, checking the image) is
//     its own.
//   - reboot to drive seen: the simulator's drive delay. The program's 450 ms
//     pause after sys.bootsel() lies inside it; its 400 ms poll steps and the
//     simulator's mounting of the drive are excess.
//   - copy: one plain write of the same bytes into a new file on the file system
//     the drive's folder is on (the prefix's temporary folder and the simulated
//     drives both live in the harness's state folder). The program's 64 KiB
//     pieces, each with a status and a progress post, are its own.
//   - drive gone to reconnected, version read: the boot ROM's 1000 ms (the drive
//     lingers that long after a complete image; the program's own 1000 ms pause
//     after the copy overlaps it), the return delay, and one version query: its
//     260 ms pause plus one plain telemetry round trip. The 1000 ms reconnect
//     poll steps and the simulator's unplugging and replugging are excess.
void Phases() {
    const std::string path = "/bench/update-1mib.uf2";
    const std::string image = ServeImage(path, "2.0.0", 1024 * 1024);
    SimDevice device(BenchDevice());
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scratch = std::wstring(temp) + L"norva-bench-copy.uf2";
    const double transferFloor = Fastest([&] { return PlainTransfer(path, image.size()); });
    const double writeFloor = Fastest([&] { return PlainWrite(scratch, image); });
    const double roundTrip = device.plugged() ? Fastest([&] { return PlainRoundTrip(device.port()); }) : -1;
    MessageSink sink;
    if (transferFloor < 0 || writeFloor < 0 || roundTrip < 0 || !RunUpdate(device, path, sink)) {
        std::printf("update of 1 MiB: FAILED (plain transfer %.0f, write %.0f, round trip %.0f ms)\n", transferFloor,
                    writeFloor, roundTrip);
        return;
    }
    const double start = FirstStatusAt(sink, L"正在下载 UF2 固件...");
    const double rebooting = FirstStatusAt(sink, L"正在发送 sys.bootsel()...");
    const double driveSeen = FirstStatusAt(sink, L"已检测到 RPI-RP2，正在写入固件...");
    const double copied = FirstStatusAt(sink, L"固件写入完成，正在尝试重连串口...");
    const double end = sink.events().back().atMs;
    const double reconnectFloor = kDriveGoneMs + kReturnDelayMs + kBoxInfoPauseMs + roundTrip;
    std::printf("update of a 1 MiB image, phase by phase (ms):\n");
    std::printf("  %-44s %6s %6s %7s\n", "", "took", "floor", "excess");
    PrintPhase("download (floor: a plain socket transfer)", rebooting - start, transferFloor);
    PrintPhase("reboot to drive seen (floor: drive delay)", driveSeen - rebooting, kDriveDelayMs);
    PrintPhase("copy (floor: one plain write)", copied - driveSeen, writeFloor);
    PrintPhase("drive gone to reconnected, version read", end - copied, reconnectFloor);
    std::printf("  (the last floor: boot ROM %d + return %d + version query %d + round trip %.1f)\n", kDriveGoneMs,
                kReturnDelayMs, kBoxInfoPauseMs, roundTrip);
    const double total = end - start;
    const double floor = transferFloor + kDriveDelayMs + writeFloor + reconnectFloor;
    std::printf("  total %.0f ms, floor %.0f ms: ratio %.3f (target <= %.2f) %s\n", total, floor, total / floor,
                kTarget, total / floor <= kTarget ? "met" : "NOT MET");
}

// The image must already be published at `path` (by the caller, so that this
// process never holds a copy of its own before it measures).
void Download(const std::string& path) {
    std::vector<uint8_t> body;
    DownloadError error;
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    const bool downloaded = HttpDownload(UpdateServerUrl(path), body, error, kImageSizeLimit, [](int32_t) {});
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
    SimDevice device(BenchDevice());
    const bool updated = RunUpdate(device, path, sink);
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

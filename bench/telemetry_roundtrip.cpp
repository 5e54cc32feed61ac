// The telemetry snapshot round trip against the simulated device: the time of
// one RequestTelemetrySnapshot, as a ratio to the device's own reply delay plus
// one poll interval of the read loop (18 ms). Target: a median of at most 1.10
// over 50 round trips.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "device/device_state.h"
#include "device/queries.h"
#include "serial/serial_link.h"
#include "tests/support/sim_client.h"

namespace {
constexpr int kRounds = 50;
constexpr double kPollIntervalMs = 18.0;
constexpr double kTarget = 1.10;

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
}  // namespace

int main(int argc, char** argv) {
    const int replyDelayMs = argc > 1 ? std::atoi(argv[1]) : 50;
    SimDevice device("reply_delay_ms=" + std::to_string(replyDelayMs));
    std::wstring error;
    if (!device.plugged() || !OpenDevicePort(device.port(), error)) {
        std::fprintf(stderr, "cannot reach the simulated device\n");
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> millis;
    for (int i = 0; i < kRounds; ++i) {
        LARGE_INTEGER begin, end;
        QueryPerformanceCounter(&begin);
        const bool ok = RequestTelemetrySnapshot(error);
        QueryPerformanceCounter(&end);
        if (!ok) {
            std::fprintf(stderr, "round trip %d failed\n", i);
            return 1;
        }
        millis.push_back(1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                         static_cast<double>(frequency.QuadPart));
    }
    CloseDevicePort();
    const double floor = replyDelayMs + kPollIntervalMs;
    const double median = MedianOf(millis);
    std::printf("telemetry round trip: %d rounds, reply delay %d ms\n", kRounds, replyDelayMs);
    std::printf("  median %.1f ms, min %.1f ms, max %.1f ms\n", median,
                *std::min_element(millis.begin(), millis.end()), *std::max_element(millis.begin(), millis.end()));
    std::printf("  ratio to delay + one poll (%.0f ms): %.3f (target <= %.2f) %s\n", floor, median / floor, kTarget,
                median / floor <= kTarget ? "met" : "NOT MET");
    return 0;
}

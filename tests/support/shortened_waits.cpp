#include "tests/support/shortened_waits.h"

#include <algorithm>
#include <atomic>

namespace {

// Function pointers take no captures: the one override at a time keeps its
// settings here, for the worker threads to read.
std::atomic<ULONGLONG> g_realStart{0};
std::atomic<uint32_t> g_factor{1};

// The least a shortened pause lasts: looking at the port every millisecond or
// two would only take the processor from the simulated world.
constexpr DWORD kLeastPauseMs = 10;

ULONGLONG WINAPI FasterTickCount() {
    const ULONGLONG start = g_realStart;
    return start + (GetTickCount64() - start) * g_factor;
}

void WINAPI ShorterSleep(DWORD ms) { Sleep(std::max<DWORD>(ms / g_factor, std::min(ms, kLeastPauseMs))); }

}  // namespace

ShortenedWaits::ShortenedWaits(uint32_t factor) : factor_(std::max<uint32_t>(1, factor)) {
    g_realStart = GetTickCount64();
    g_factor = factor_;
    clock_->tickCount = FasterTickCount;
    clock_->sleep = ShorterSleep;
}

ShortenedWaits::~ShortenedWaits() = default;

#include "tests/support/shortened_waits.h"

#include <algorithm>
#include <atomic>

namespace {

// Function pointers take no captures: the one override at a time keeps its
// settings here, for the worker threads to read.
std::atomic<ULONGLONG> g_realStart{0};
std::atomic<uint32_t> g_factor{1};

ULONGLONG WINAPI FasterTickCount() {
    const ULONGLONG start = g_realStart;
    return start + (GetTickCount64() - start) * g_factor;
}

void WINAPI ShorterSleep(DWORD ms) { Sleep(ms == 0 ? 0 : std::max<DWORD>(1, ms / g_factor)); }

}  // namespace

ShortenedWaits::ShortenedWaits(uint32_t factor) : factor_(std::max<uint32_t>(1, factor)) {
    g_realStart = GetTickCount64();
    g_factor = factor_;
    clock_->tickCount = FasterTickCount;
    clock_->sleep = ShorterSleep;
}

ShortenedWaits::~ShortenedWaits() = default;

// The window's start-up and its port list:
//  - time from process start to the first painted window (the program is idle in
//    its message loop, so WM_CREATE, ShowWindow and UpdateWindow are done), as a
//    ratio to a minimal Win32 window program started the same way. Target: <= 1.5.
//  - the size of norva1-update.exe as shipped: statically linked, built for
//    release (stripped). Target: <= 0.5 MB.
//  - one RefreshPortList (256 device-name queries) on the window thread: reported.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/refresh.h"
#include "probe.h"

namespace {
constexpr int kRounds = 9;
constexpr int kRefreshRounds = 20;
constexpr double kRatioTarget = 1.5;
constexpr double kSizeTargetBytes = 0.5 * 1024 * 1024;

std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct TopWindowSearch {
    DWORD processId;
    HWND found;
};

HWND VisibleWindowOf(DWORD processId) {
    TopWindowSearch search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<TopWindowSearch*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s->processId || !IsWindowVisible(window)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Milliseconds from CreateProcess to a shown window whose thread sits idle in its loop; -1 on failure.
double StartUpMs(const std::wstring& path) {
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const double start = NowMs();
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return -1;
    }
    WaitForInputIdle(info.hProcess, 20000);
    HWND window = nullptr;
    WaitUntil([&] { return (window = VisibleWindowOf(info.dwProcessId)) != nullptr; }, 20000);
    const double elapsed = NowMs() - start;
    if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return window != nullptr ? elapsed : -1;
}

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main() {
    const std::wstring program = WinePath(NORVA_PROGRAM_PATH);
    const std::wstring minimal = WinePath(NORVA_MINIMAL_PATH);

    // Alternate the two so that a slow moment of the machine hits both alike; the first pair warms up.
    StartUpMs(minimal);
    StartUpMs(program);
    std::vector<double> programMs;
    std::vector<double> minimalMs;
    for (int i = 0; i < kRounds; ++i) {
        const double m = StartUpMs(minimal);
        const double p = StartUpMs(program);
        if (m < 0 || p < 0) {
            std::fprintf(stderr, "a program did not show its window\n");
            return 1;
        }
        minimalMs.push_back(m);
        programMs.push_back(p);
    }
    const double ratio = MedianOf(programMs) / MedianOf(minimalMs);
    std::printf("start-up to first painted window: program %.1f ms, minimal window %.1f ms (medians of %d)\n",
                MedianOf(programMs), MedianOf(minimalMs), kRounds);
    std::printf("  ratio %.2f (target <= %.1f): %s\n", ratio, kRatioTarget, ratio <= kRatioTarget ? "met" : "MISSED");

    const long long size = FileSize(program);
    std::printf("norva1-update.exe, release build, stripped: %lld bytes = %.2f MB (target <= 0.5 MB): %s\n", size,
                static_cast<double>(size) / (1024.0 * 1024.0),
                size >= 0 && static_cast<double>(size) <= kSizeTargetBytes ? "met" : "MISSED");

    // The port list as the window refreshes it, on this (window) thread.
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    g_app.portCombo = CreateWindowExW(0, L"COMBOBOX", nullptr, WS_CHILD | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0, 0,
                                      200, 200, parent, nullptr, nullptr, nullptr);
    std::vector<double> refreshMs;
    for (int i = 0; i < kRefreshRounds; ++i) {
        const double start = NowMs();
        RefreshPortList();
        refreshMs.push_back(NowMs() - start);
    }
    const auto ports = SendMessageW(g_app.portCombo, CB_GETCOUNT, 0, 0);
    std::printf("RefreshPortList (256 queries, %ld ports listed): median %.2f ms, worst %.2f ms over %d\n",
                static_cast<long>(ports), MedianOf(refreshMs), *std::max_element(refreshMs.begin(), refreshMs.end()),
                kRefreshRounds);
    DestroyWindow(parent);
    return 0;
}

#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/sim_client.h"

// The real norva1-update.exe, started by the test under the same desktop and
// driven through the window probe. Closed (or, failing that, ended) when the
// object goes out of scope.
class RunningProgram {
public:
    // `unixPath`: the program's file as the build knows it (the test's own build of the program by default).
    explicit RunningProgram(const char* unixPath = NORVA_PROGRAM_PATH);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    HANDLE process() const { return process_; }

    // Waits for the process to end; false when it is still running after the time-out.
    bool WaitForExit(DWORD timeoutMs);

private:
    HANDLE process_ = nullptr;
    HWND window_ = nullptr;
};

// Chooses the port in the program's port list, as a user picking it would.
testing::AssertionResult SelectPort(HWND main, const std::wstring& port);

// The control's text as the probe reads it (empty when it cannot be read).
std::wstring TextOf(HWND main, int id);

// The preamble every end-to-end story starts from: a simulated device, and the
// real program started beside it.
struct ProgramWindow {
    explicit ProgramWindow(SimDevice& device, const char* programPath = NORVA_PROGRAM_PATH);
    // The device is plugged and the window is up.
    testing::AssertionResult Started() const;
    // Picks the device's port, connects and waits until the sync has ended.
    testing::AssertionResult ConnectAndSync(DWORD timeoutMs = 15000);
    std::wstring Text(int id) const { return TextOf(main, id); }
    // Gives the command and waits until the task has ended with `text` on the status line.
    bool Run(int command, const std::wstring& text, DWORD timeoutMs = 15000);

    SimDevice& device;
    RunningProgram program;
    HWND main = nullptr;
};

// The same, connected to the device with the sync done (`ready`).
struct ConnectedProgram : ProgramWindow {
    explicit ConnectedProgram(SimDevice& simulated, const char* programPath = NORVA_PROGRAM_PATH)
        : ProgramWindow(simulated, programPath) {
        ready = Started() && ConnectAndSync();
    }
    bool ready = false;
};

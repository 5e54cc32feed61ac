#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

// The real norva1-update.exe, started by the test under the same desktop and
// driven through the window probe. Closed (or, failing that, ended) when the
// object goes out of scope.
class RunningProgram {
public:
    RunningProgram();
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

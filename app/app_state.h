#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/device_status.h"

// The one record of the program's state, shared by the window thread and the
// worker thread of the task that is running.
//
// Threads: the window thread owns the handles, progressPercent and the card
// rectangles. Workers write the port, the version strings and the device status
// (the DeviceStatus part); every access to those from either thread holds
// `sharedLock`, so the window never reads a string while a worker assigns it.
// The lock is held only for copying fields, never across a port, network or
// window call. TakeSharedSnapshot gives the window thread a consistent copy.
//
// Lifetime: the instance is created before the entry point runs and is never
// destroyed, so a task still running while the process ends can never touch a
// destroyed string or lock.
struct AppState : DeviceStatus {
    HINSTANCE instance = nullptr;
    // Set first thing on WM_CREATE and never cleared; the posting routines drop
    // everything while it is null.
    HWND mainWindow = nullptr;

    // The 23 child controls, in creation order.
    HWND portCombo = nullptr;
    HWND refreshButton = nullptr;
    HWND connectButton = nullptr;
    HWND readVersionButton = nullptr;
    HWND checkLatestButton = nullptr;
    HWND updateButton = nullptr;
    HWND connStateLabel = nullptr;
    HWND portLabel = nullptr;
    HWND titleLabel = nullptr;
    HWND subtitleLabel = nullptr;
    HWND currentCaption = nullptr;
    HWND latestCaption = nullptr;
    HWND verdictCaption = nullptr;
    HWND currentVersionLabel = nullptr;
    HWND latestVersionLabel = nullptr;
    HWND verdictLabel = nullptr;
    HWND macroLabel = nullptr;
    HWND macroToggle = nullptr;
    HWND hidLabel = nullptr;
    HWND hidStateLabel = nullptr;
    HWND hidToggle = nullptr;
    HWND statusLabel = nullptr;
    HWND progressBar = nullptr;

    HFONT titleFont = nullptr;
    HFONT statusFont = nullptr;
    HFONT bodyFont = nullptr;
    HFONT versionFont = nullptr;
    HFONT verdictFont = nullptr;

    // Connected means portHandle is not INVALID_HANDLE_VALUE.
    HANDLE portHandle = INVALID_HANDLE_VALUE;
    std::wstring portName;
    // currentVersion and the device status fields come from DeviceStatus.
    std::string latestVersion;  // manifest `version`; empty: no check has succeeded
    std::string downloadUrl;    // manifest `xzdz`: where the image is downloaded from

    // A task is running. Set by the window and by the task, cleared by the window alone.
    std::atomic<bool> busy{false};
    // 0..100, written by the window thread only.
    int32_t progressPercent = 0;

    RECT headerCard{};
    RECT connectionCard{};
    RECT currentCard{};
    RECT latestCard{};
    RECT verdictCard{};
    RECT statusCard{};

    // Guards portHandle, portName, latestVersion, downloadUrl and the DeviceStatus fields.
    std::mutex sharedLock;
};

using SharedGuard = std::lock_guard<std::mutex>;

extern AppState& g_app;

// A copy of the worker-written fields, taken under the lock.
struct SharedSnapshot {
    HANDLE portHandle = INVALID_HANDLE_VALUE;
    std::wstring portName;
    DeviceStatus device;
    std::string latestVersion;
    std::string downloadUrl;
    bool connected() const { return portHandle != INVALID_HANDLE_VALUE; }
};

SharedSnapshot TakeSharedSnapshot();

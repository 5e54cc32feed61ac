#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// How far a running firmware update has got, for the taskbar button and the
// shell: the update task moves it on (and posts a refresh) as it goes, the
// window reads it on WM_APP_REFRESH and WM_APP_TASK_DONE and puts it back to
// None when it has taken the update's end. Other tasks leave it at None.
enum class UpdateStage : uint8_t {
    None,         // no update runs
    Checking,     // the versions and the manifest: no download yet
    Downloading,  // the image's download, in percent when the server sent its length
    Waiting,      // the image's checks, the reboot, the waits for the drive and for the device
    Copying,      // the copy onto the drive, in percent
    Succeeded,    // the device is back with the new firmware
};

// The one record of the program's state.
//
// The window thread owns the window, control and font handles and the
// progress. What the program knows about the device and its port lives with
// the device (device/device_state.h), what it knows about the newest release
// with the update (update/release_state.h), and what the window last showed
// with the window (app/window_state.h).
//
// Lifetime: the instance is created before the entry point runs and is never
// destroyed, so a task still running while the process ends can never touch a
// destroyed string or lock.
struct AppState {
    HINSTANCE instance = nullptr;
    // Set first thing on WM_CREATE and kept after WM_DESTROY: posts from a task
    // still running then go to a window that no longer exists and are lost.
    // The posting routines drop everything while it is null.
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

    // A task is running. Set by the window and by the task, cleared by the window alone.
    std::atomic<bool> busy{false};

    // The running update's stage (see UpdateStage).
    std::atomic<UpdateStage> updateStage{UpdateStage::None};

    // Window thread only: the progress bar's 0..100.
    int32_t progressPercent = 0;
};

extern AppState& g_app;

#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/control_view.h"
#include "app/device_status.h"
#include "app/layout.h"

// The one serial port the program talks through: its handle and the name it
// was opened under. The port functions (serial/serial_link.h) are its only
// writers. It keeps its own small lock because the window reads it (connected?
// which port?) while the update task closes and reopens the port on its
// worker thread.
class SerialLink {
public:
    SerialLink() = default;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // The one test for "is a port open".
    bool IsOpen() const;
    // INVALID_HANDLE_VALUE when no port is open.
    HANDLE Handle() const;
    // Empty when no port is open.
    std::wstring Name() const;
    // Whether a port is open and its name, read together.
    bool IsOpenAs(std::wstring& name) const;

    // Takes a newly opened handle and its name.
    void Attach(HANDLE handle, const std::wstring& name);
    // Gives up the handle (INVALID_HANDLE_VALUE when none was open) and forgets the name.
    HANDLE Detach();

private:
    mutable std::mutex lock_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring name_;
};

// The one record of the program's state.
//
// Owners: the window thread owns the window, control and font handles, the
// progress, the card layout and the view it last showed. The port link, the
// device status and the version strings are written through their owners'
// functions (serial/serial_link.h, device/device_state.h,
// update/release_state.h), which a task runs on its worker thread.
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

    // Connected means a port is open on this link.
    SerialLink link;

    // Guarded by sharedLock.
    DeviceStatus device;
    std::string latestVersion;  // manifest `version`; empty: no check has succeeded
    std::string downloadUrl;    // manifest `xzdz`: where the image is downloaded from
    std::string imageSha256;    // manifest `sha256`: what the image must hash to; empty: not named

    // A task is running. Set by the window and by the task, cleared by the window alone.
    std::atomic<bool> busy{false};

    // Window thread only: the progress bar's 0..100, the cards as last laid
    // out, and the view the controls last showed.
    int32_t progressPercent = 0;
    CardLayout cards;
    ControlView view;
    // The RPI-RP2 drives seen the last time they were looked for (only while no
    // port is open and no task runs).
    std::vector<std::wstring> bootloaderDrives;

    // The window refreshes its controls from the device status and the version
    // strings while a worker may be assigning them, and a string read during
    // its assignment is undefined behaviour. So both sides copy these fields
    // under this lock; it is held only while copying, never across a port,
    // network or window call, and never together with the link's own lock.
    std::mutex sharedLock;
};

using SharedGuard = std::lock_guard<std::mutex>;

extern AppState& g_app;

// A copy of what the workers write, for the window thread.
struct SharedSnapshot {
    bool connected = false;
    std::wstring portName;
    DeviceStatus device;
    std::string latestVersion;
};

SharedSnapshot TakeSharedSnapshot();

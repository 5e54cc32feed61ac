#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/shell_calls.h"
#include "task/task_state.h"
#include "tests/app/window_fixture.h"
#include "tests/support/calls_override.h"
#include "tests/support/known_state.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "update/workflow/power_calls.h"
#include "update/image/volume_calls.h"
#include "view/control_ids.h"

// What the window tells the shell while an update runs: the real window on the
// test's thread runs the real tasks against the simulated device and the local
// update server. Wine keeps no taskbar list and only pretends to filter
// messages or to keep the system awake, so the shell and power calls are
// stand-ins that note what was asked, and on which thread.

namespace {

using Calls = std::vector<std::string>;

struct Call {
    std::string what;
    DWORD thread;
};

std::mutex g_mutex;
std::condition_variable g_noted;
std::vector<Call> g_log;
HWND g_foreground = nullptr;
int g_lists = 0;

void Note(const std::string& what) {
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        g_log.push_back({what, GetCurrentThreadId()});
    }
    g_noted.notify_all();
}

std::vector<Call> Log() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_log;
}

void ClearLog() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
}

// The calls noted whose text starts with `prefix`, without it.
Calls Noted(const std::string& prefix) {
    Calls found;
    for (const auto& call : Log())
        if (call.what.rfind(prefix, 0) == 0) found.push_back(call.what.substr(prefix.size()));
    return found;
}

const char* StateName(TBPFLAG state) {
    switch (state) {
    case TBPF_NOPROGRESS: return "none";
    case TBPF_INDETERMINATE: return "indeterminate";
    case TBPF_NORMAL: return "normal";
    case TBPF_ERROR: return "error";
    default: return "paused";
    }
}

ITaskbarList3* List(int number) { return reinterpret_cast<ITaskbarList3*>(static_cast<uintptr_t>(number) * 16); }

// Stand-ins for the shell. The taskbar's value is checked against the progress bar as it is set.
void FakeShell(ShellCalls& shell) {
    shell.createTaskbarList = []() -> ITaskbarList3* {
        Note("create");
        return List(++g_lists);
    };
    shell.releaseTaskbarList = [](ITaskbarList3* list) { Note(list == List(g_lists - 1) ? "release" : "release?"); };
    shell.setProgressState = [](ITaskbarList3* list, HWND, TBPFLAG state) -> HRESULT {
        EXPECT_EQ(list, List(g_lists));
        Note(std::string("state ") + StateName(state));
        return S_OK;
    };
    shell.setProgressValue = [](ITaskbarList3*, HWND, ULONGLONG done, ULONGLONG total) -> HRESULT {
        EXPECT_EQ(total, 100u);
        const auto states = Noted("state ");
        if (!states.empty() && states.back() == "normal") {
            EXPECT_EQ(done, static_cast<ULONGLONG>(g_app.progressPercent));
        }
        Note("value " + std::to_string(done));
        return S_OK;
    };
    shell.flashWindowEx = [](PFLASHWINFO flash) -> BOOL {
        const bool untilBack = flash->cbSize == sizeof *flash && flash->dwFlags == (FLASHW_TRAY | FLASHW_TIMERNOFG) &&
                               flash->hwnd == g_task.mainWindow;
        Note(untilBack ? "flash until back" : "flash?");
        return TRUE;
    };
    shell.getForegroundWindow = []() -> HWND { return g_foreground; };
    shell.changeWindowMessageFilterEx = [](HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT) -> BOOL {
        const char* name = message == RegisterWindowMessageW(L"TaskbarButtonCreated")  ? "TaskbarButtonCreated"
                           : message == RegisterWindowMessageW(L"QueryCancelAutoPlay") ? "QueryCancelAutoPlay"
                                                                                        : "?";
        const bool allowed = action == MSGFLT_ALLOW && window == g_task.mainWindow;
        Note(std::string(allowed ? "allow " : "filter? ") + name);
        return TRUE;
    };
}

// The update runs ahead of the window, which reads its stage when it gets to
// the refresh: a download or a copy over before the window got there would not
// show on the taskbar. So the update waits (as a slower network or drive
// would make it) until the taskbar shows the download's percentage before it
// goes on to the drives, and the copy's before it closes the file.
std::atomic<bool> g_throwOnDrives{false};
std::atomic<size_t> g_copyStart{SIZE_MAX};

void AwaitPercentSince(size_t start) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_noted.wait_for(lock, std::chrono::seconds(10), [start] {
        for (size_t i = start; i < g_log.size(); ++i)
            if (g_log[i].what == "state normal") return true;
        return false;
    });
}

bool OnWorker() {
    return g_task.mainWindow != nullptr && GetWindowThreadProcessId(g_task.mainWindow, nullptr) != GetCurrentThreadId();
}

void HoldDrives(VolumeCalls& volumes) {
    volumes.getLogicalDriveStrings = [](DWORD length, LPWSTR buffer) -> DWORD {
        if (OnWorker()) {
            AwaitPercentSince(0);
            if (g_throwOnDrives) throw std::bad_alloc();
        }
        return VolumeCalls::System().getLogicalDriveStrings(length, buffer);
    };
    volumes.writeFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) -> BOOL {
        if (g_copyStart == SIZE_MAX) g_copyStart = Log().size();
        return VolumeCalls::System().writeFile(file, data, size, written, overlapped);
    };
    volumes.closeHandle = [](HANDLE handle) -> BOOL {
        if (OnWorker() && g_copyStart != SIZE_MAX) AwaitPercentSince(g_copyStart);
        return VolumeCalls::System().closeHandle(handle);
    };
}

bool SelectPort(const std::wstring& name) {
    const LRESULT index = SendMessageW(g_app.portCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(name.c_str()));
    return index >= 0 && SendMessageW(g_app.portCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == index;
}

std::string ImageUrl(const std::string& path) {
    const std::wstring url = UpdateServerUrl(path);
    return std::string(url.begin(), url.end());
}

}  // namespace

TEST(ShellSignals, TaskOutcomesAgainstTheTaskbarButton) {
    ResetUpdateServer();
    ServeImage("/fw/norva1-1.2.0.uf2", "1.2.0", 65536);
    ServeManifest("version=1.2.0\nxzdz=" + ImageUrl("/fw/norva1-1.2.0.uf2") + "\n");
    SimDevice device("fw=1.0.0 drive_delay_ms=300 return_delay_ms=100");
    ASSERT_TRUE(device.plugged());
    CallsOverride<ShellCalls> shell;
    FakeShell(*shell);
    CallsOverride<PowerCalls> power;
    power->setThreadExecutionState = [](EXECUTION_STATE state) -> EXECUTION_STATE {
        const bool on = state == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        Note(on ? "power on" : state == ES_CONTINUOUS ? "power off" : "power ?");
        return ES_CONTINUOUS;
    };
    CallsOverride<VolumeCalls> volumes;
    HoldDrives(*volumes);

    TestMainWindow main;
    const DWORD windowThread = GetCurrentThreadId();
    // The shell's messages reach the elevated window; the button exists once the shell says so.
    EXPECT_EQ(Noted(""), (Calls{"allow TaskbarButtonCreated", "allow QueryCancelAutoPlay"}));
    const UINT buttonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    SendMessageW(main.window(), buttonCreated, 0, 0);
    ASSERT_TRUE(SelectPort(device.port()));
    main.Command(IdConnectButton);
    ASSERT_TRUE(main.PumpUntilIdle(10000));

    struct Outcome {
        const char* name;
        std::function<void()> before;
        int command;
        std::wstring text;
        Calls taskbar;  // the button's states, in order
        bool flashed;   // the window was not in the foreground
    };
    const Outcome outcomes[] = {
        {"the check", [] {}, IdCheckLatestButton, L"检测到新固件: 1.2.0", {}, false},
        {"nothing newer", [] { KnowVersions("1.0.0", "1.0.0", ImageUrl("/fw/norva1-1.2.0.uf2")); }, IdUpdateButton,
         L"当前版本已是最新，无需更新。", {"indeterminate", "none"}, true},
        {"no image", [] { KnowVersions("1.0.0", "1.2.0", ImageUrl("/fw/gone.uf2")); }, IdUpdateButton,
         L"下载 UF2 失败: HTTP 状态码 404", {"indeterminate", "error"}, true},
        {"thrown after the download",
         [] {
             KnowVersions("1.0.0", "1.2.0", ImageUrl("/fw/norva1-1.2.0.uf2"));
             g_throwOnDrives = true;
         },
         IdUpdateButton, L"操作失败: 内存不足", {"indeterminate", "normal", "error"}, true},
        {"succeeded, in the foreground",
         [&main] {
             g_throwOnDrives = false;
             g_foreground = main.window();
         },
         IdUpdateButton, L"固件更新完成，设备已重连。",
         {"indeterminate", "normal", "indeterminate", "normal", "indeterminate", "none"}, false},
    };
    for (const Outcome& outcome : outcomes) {
        SCOPED_TRACE(outcome.name);
        outcome.before();
        ClearLog();
        main.Command(outcome.command);
        ASSERT_TRUE(main.PumpUntilIdle(60000));
        main.Drain();
        EXPECT_EQ(main.statusHistory().back(), outcome.text);
        EXPECT_EQ(Noted("state "), outcome.taskbar);
        EXPECT_EQ(Noted("flash"), outcome.flashed ? Calls{" until back"} : Calls{});
        // The updating thread keeps the system awake from its first step to its
        // last, whatever the end; everything else happens on the window thread.
        const bool update = outcome.command == IdUpdateButton;
        EXPECT_EQ(Noted("power "), update ? (Calls{"on", "off"}) : Calls{});
        std::vector<DWORD> updating;
        for (const auto& call : Log()) {
            if (call.what.rfind("power ", 0) == 0) {
                updating.push_back(call.thread);
            } else {
                EXPECT_EQ(call.thread, windowThread) << call.what;
            }
        }
        if (updating.size() == 2) {
            EXPECT_NE(updating[0], windowThread);
            EXPECT_EQ(updating[0], updating[1]);
        }

        // A button made again shows what the update left; the user's next command takes an error away.
        ClearLog();
        SendMessageW(main.window(), buttonCreated, 0, 0);
        main.Command(IdRefreshButton);
        main.Drain();
        const bool failed = !outcome.taskbar.empty() && outcome.taskbar.back() == "error";
        EXPECT_EQ(Noted(""), failed ? (Calls{"create", "release", "state error", "value 100", "state none"})
                                    : (Calls{"create", "release"}));
    }
}

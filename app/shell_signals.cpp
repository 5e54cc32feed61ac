#include "app/shell_signals.h"

#include "app/app_state.h"
#include "app/shell_calls.h"
#include "base/trace.h"
#include "update/workflow/update_stage.h"

namespace {

UINT TaskbarButtonCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

UINT QueryCancelAutoPlayMessage() {
    static const UINT message = RegisterWindowMessageW(L"QueryCancelAutoPlay");
    return message;
}

bool IsMoving(UpdateStage stage) { return stage == UpdateStage::Downloading || stage == UpdateStage::Copying; }

// What the button should show now.
TaskbarShows Wanted(const TaskbarButton& button) {
    if (button.failed) return {TaskbarProgress::Error, 100};
    switch (button.stage) {
    case UpdateStage::Checking:
    case UpdateStage::Waiting: return {TaskbarProgress::Indeterminate, 0};
    case UpdateStage::Downloading:
    case UpdateStage::Copying:
        // Indeterminate until it moves: a download whose length the server
        // did not send never does.
        if (button.moving) return {TaskbarProgress::Normal, g_app.progressPercent};
        return {TaskbarProgress::Indeterminate, 0};
    default: return {TaskbarProgress::None, 0};
    }
}

TBPFLAG FlagOf(TaskbarProgress progress) {
    switch (progress) {
    case TaskbarProgress::Indeterminate: return TBPF_INDETERMINATE;
    case TaskbarProgress::Normal: return TBPF_NORMAL;
    case TaskbarProgress::Error: return TBPF_ERROR;
    default: return TBPF_NOPROGRESS;
    }
}

// Tells the button what changed, if it exists.
void Show(HWND window) {
    TaskbarButton& button = g_app.taskbar;
    if (button.list == nullptr) return;
    const TaskbarShows want = Wanted(button);
    const bool newState = want.progress != button.shown.progress;
    if (newState) Shell().setProgressState(button.list, window, FlagOf(want.progress));
    const bool hasValue = want.progress == TaskbarProgress::Normal || want.progress == TaskbarProgress::Error;
    if (hasValue && (newState || want.percent != button.shown.percent)) {
        Shell().setProgressValue(button.list, window, static_cast<ULONGLONG>(want.percent), 100);
    }
    button.shown = want;
}

void Flash(HWND window) {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;  // until the window comes to the foreground
    Shell().flashWindowEx(&flash);
}

void ButtonCreated(HWND window) {
    TaskbarButton& button = g_app.taskbar;
    // A button made again (Explorer restarted) starts empty, with a new object.
    ITaskbarList3* const old = button.list;
    button.list = Shell().createTaskbarList();
    if (old != nullptr) Shell().releaseTaskbarList(old);
    button.shown = TaskbarShows{};
    Show(window);
}

}  // namespace

void OpenWindowToShell(HWND window) {
    for (const UINT message : {TaskbarButtonCreatedMessage(), QueryCancelAutoPlayMessage()}) {
        if (message == 0 || !Shell().changeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr)) {
            TraceLastError(L"ChangeWindowMessageFilterEx");
        }
    }
}

bool AnswerShellMessage(HWND window, UINT message, LRESULT& result) {
    if (message == 0) return false;
    if (message == TaskbarButtonCreatedMessage()) {
        ButtonCreated(window);
        result = 0;
        return true;
    }
    if (message == QueryCancelAutoPlayMessage() && UpdateStageNow() != UpdateStage::None) {
        result = TRUE;
        return true;
    }
    return false;
}

void FollowUpdateStage(HWND window) {
    TaskbarButton& button = g_app.taskbar;
    const UpdateStage stage = UpdateStageNow();
    if (stage == button.stage) return;
    button.stage = stage;
    button.moving = false;
    Show(window);
}

// A stage moves from its first percentage above 0: the zero the update posts
// as it starts and as it begins to wait for the drive is no movement, also
// when the window reads the stage a little later than the update left it.
void FollowUpdateProgress(HWND window) {
    TaskbarButton& button = g_app.taskbar;
    if (!IsMoving(button.stage) || g_app.progressPercent == 0) return;
    button.moving = true;
    Show(window);
}

void TakeUpdateEnd(HWND window) {
    const UpdateStage ended = TakeUpdateStage();
    if (ended == UpdateStage::None) return;  // not an update
    TaskbarButton& button = g_app.taskbar;
    button.stage = UpdateStage::None;
    button.moving = false;
    // Up to its download an update only looked; after that it failed unless it says it succeeded.
    button.failed = ended != UpdateStage::Checking && ended != UpdateStage::Succeeded;
    Show(window);
    if (Shell().getForegroundWindow() != window) Flash(window);
}

void ClearUpdateFailure(HWND window) {
    TaskbarButton& button = g_app.taskbar;
    if (!button.failed) return;
    button.failed = false;
    Show(window);
}

void CloseWindowToShell() {
    TaskbarButton& button = g_app.taskbar;
    if (button.list != nullptr) Shell().releaseTaskbarList(button.list);
    button.list = nullptr;
}

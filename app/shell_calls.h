#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "base/system_calls.h"

// The calls by which the window deals with the shell during an update
// (base/system_calls.h): its taskbar button's progress, the button's flashing,
// and the message filter that lets the shell's messages reach this elevated
// window. Wine keeps no taskbar list, flashes nothing and filters nothing, so
// a test puts calls here that note what was asked, on which thread and when.
//
// The taskbar list is a COM object of the window thread: created there once
// the button exists, used and released there.
struct ShellCalls {
    // A taskbar list ready for use (COM entered apartment-threaded on this
    // thread, CLSID_TaskbarList created, HrInit done); null when there is none.
    ITaskbarList3* (*createTaskbarList)();
    HRESULT (*setProgressState)(ITaskbarList3* list, HWND window, TBPFLAG state);
    HRESULT (*setProgressValue)(ITaskbarList3* list, HWND window, ULONGLONG completed, ULONGLONG total);
    // Releases the list and leaves COM on this thread as the create entered it.
    void (*releaseTaskbarList)(ITaskbarList3* list);

    decltype(&::FlashWindowEx) flashWindowEx;
    decltype(&::GetForegroundWindow) getForegroundWindow;
    decltype(&::ChangeWindowMessageFilterEx) changeWindowMessageFilterEx;

    static ShellCalls System();
};

inline ShellCalls& Shell() { return CallsInUse<ShellCalls>(); }

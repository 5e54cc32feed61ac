#include "app/shell_calls.h"

#include <objbase.h>

#include "base/trace.h"

namespace {

ITaskbarList3* CreateTaskbarList() {
    const HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(entered)) {
        TraceSystemError(L"CoInitializeEx", std::wstring(), static_cast<DWORD>(entered));
        return nullptr;
    }
    ITaskbarList3* list = nullptr;
    HRESULT result = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&list));
    if (SUCCEEDED(result)) {
        result = list->HrInit();
        if (SUCCEEDED(result)) return list;
        list->Release();
    }
    TraceSystemError(L"CoCreateInstance(CLSID_TaskbarList)", std::wstring(), static_cast<DWORD>(result));
    CoUninitialize();
    return nullptr;
}

HRESULT SetProgressState(ITaskbarList3* list, HWND window, TBPFLAG state) {
    return list->SetProgressState(window, state);
}

HRESULT SetProgressValue(ITaskbarList3* list, HWND window, ULONGLONG completed, ULONGLONG total) {
    return list->SetProgressValue(window, completed, total);
}

void ReleaseTaskbarList(ITaskbarList3* list) {
    list->Release();
    CoUninitialize();
}

}  // namespace

ShellCalls ShellCalls::System() {
    return ShellCalls{CreateTaskbarList, SetProgressState,     SetProgressValue,
                      ReleaseTaskbarList, ::FlashWindowEx, ::GetForegroundWindow,
                      ::ChangeWindowMessageFilterEx};
}

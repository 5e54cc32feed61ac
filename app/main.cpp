#include <windows.h>
#include <commctrl.h>

#include "app/app_state.h"
#include "app/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    ConfigureProcess();
    g_app.instance = instance;
    if (!RegisterMainWindowClass(instance)) return 0;
    HWND window = CreateMainWindow(instance);
    if (window == nullptr) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    // No IsDialogMessage and no accelerators: the window takes no keyboard navigation.
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

#pragma once

#include <windows.h>

// The main window: class "NORVA1MainWindow", title "NORVA1 固件更新".
extern const wchar_t kMainWindowClass[];
extern const wchar_t kMainWindowTitle[];

// Settings of the whole process, made before the window exists: looking at a
// removable drive without media (a card reader, a drive still mounting) fails
// quietly instead of showing the system's "no disk" box, which would hold up
// the drive search.
void ConfigureProcess();

// Registers the window class with the program's icons (view/icon_ids.h).
bool RegisterMainWindowClass(HINSTANCE instance);

// Creates the fixed-size 920 by 500 main window; its controls exist on return.
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

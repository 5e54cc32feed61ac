#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Looks at and drives the program's main window from another process under the
// same desktop: by control id, with time-outs on every cross-process call, so
// that a hung window fails a check instead of hanging the caller.

// The top-level window of class "NORVA1MainWindow", waiting up to timeoutMs for it.
HWND FindProgramWindow(DWORD timeoutMs);

// The top-level window of that class owned by the given process (several programs
// may run side by side under one desktop), waiting up to timeoutMs for it.
HWND FindProgramWindowOf(DWORD processId, DWORD timeoutMs);

// The child control with this id (null for none).
HWND ProbeControl(HWND main, int id);

bool ProbeText(HWND main, int id, std::wstring& text);
bool ProbeEnabled(HWND main, int id);
// BM_GETCHECK of the control: BST_CHECKED (1) or BST_UNCHECKED (0); -1 when there is no such control.
int ProbeChecked(HWND main, int id);

// A click as the control reports it: WM_COMMAND (id, BN_CLICKED) posted to the main window.
bool ProbePostCommand(HWND main, int id);
// BM_CLICK sent to the button; a disabled button ignores it.
bool ProbeClick(HWND main, int id);
// Posts any message to the main window (for example WM_APP + 2, a progress value).
bool ProbePost(HWND main, UINT message, WPARAM wParam, LPARAM lParam);

struct ComboState {
    std::vector<std::wstring> items;
    int selection = -1;
};
bool ProbeCombo(HWND main, int id, ComboState& state);
bool ProbeSelectCombo(HWND main, int id, int index);

// The control's rectangle in screen coordinates.
bool ProbeScreenRect(HWND main, int id, RECT& rect);

// Polls the condition every 20 ms until it holds or the time-out passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
bool WaitForText(HWND main, int id, const std::wstring& text, DWORD timeoutMs);
bool WaitForEnabled(HWND main, int id, bool enabled, DWORD timeoutMs);

// A copy of the screen's pixels (what the X server shows under Wine).
struct ScreenPixels {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, row by row from the top
    // The colour at a screen point as R, G, B (0 when outside the copy).
    uint32_t At(int x, int y) const;
};
bool CaptureScreen(const RECT& area, ScreenPixels& shot);
// Writes the copy as a 24-bit BMP file.
bool SaveBitmap(const ScreenPixels& shot, const std::wstring& path);

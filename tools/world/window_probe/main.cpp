// window_probe: looks at and drives the program's window from the command line,
// under the same Wine prefix (or Windows session) as the program.
//
//   window_probe text ID                 prints the control's text
//   window_probe enabled ID              prints 1 or 0
//   window_probe checked ID              prints the BM_GETCHECK state
//   window_probe command ID              posts WM_COMMAND as a click would
//   window_probe click ID                sends BM_CLICK (ignored by a disabled button)
//   window_probe combo ID                prints the items, the selected one marked with '*'
//   window_probe select ID INDEX         selects an item of the combo box
//   window_probe post MESSAGE WPARAM     posts a message (numbers, 0x... allowed) to the window
//   window_probe rect ID                 prints the control's screen rectangle
//   window_probe wait-text ID TEXT MS    waits until the control shows TEXT
//   window_probe wait-enabled ID 0|1 MS  waits for the enabled state
//   window_probe close                   posts WM_CLOSE
//   window_probe capture FILE.bmp        saves the window as it shows on screen
//
// The window is waited for up to 10 s. Exit code 0: done or condition met;
// 1: the condition was not met in time or the call failed; 2: usage or no window.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "probe.h"

namespace {

void PrintLine(const std::wstring& text) {
    std::wstring line = text + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Usage() {
    fwprintf(stderr, L"usage: window_probe text|enabled|checked|command|click|combo|rect ID | select ID INDEX | "
                     L"post MESSAGE WPARAM | wait-text ID TEXT MS | wait-enabled ID 0|1 MS | close | capture FILE\n");
    return 2;
}

long long Number(const wchar_t* text) { return wcstoll(text, nullptr, 0); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring verb = argv[1];
    HWND main = FindProgramWindow(10000);
    if (main == nullptr) {
        fwprintf(stderr, L"window_probe: no window of class NORVA1MainWindow\n");
        return 2;
    }
    if (verb == L"close") return PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    if (verb == L"capture" && argc == 3) {
        RECT area{};
        GetWindowRect(main, &area);
        ScreenPixels shot;
        return CaptureScreen(area, shot) && SaveBitmap(shot, argv[2]) ? 0 : 1;
    }
    if (argc < 3) return Usage();
    const int id = static_cast<int>(Number(argv[2]));

    if (verb == L"text" && argc == 3) {
        std::wstring text;
        if (!ProbeText(main, id, text)) return 1;
        PrintLine(text);
        return 0;
    }
    if (verb == L"enabled" && argc == 3) {
        if (ProbeControl(main, id) == nullptr) return 1;
        PrintLine(ProbeEnabled(main, id) ? L"1" : L"0");
        return 0;
    }
    if (verb == L"checked" && argc == 3) {
        const int state = ProbeChecked(main, id);
        if (state < 0) return 1;
        PrintLine(std::to_wstring(state));
        return 0;
    }
    if (verb == L"command" && argc == 3) return ProbePostCommand(main, id) ? 0 : 1;
    if (verb == L"click" && argc == 3) return ProbeClick(main, id) ? 0 : 1;
    if (verb == L"combo" && argc == 3) {
        ComboState state;
        if (!ProbeCombo(main, id, state)) return 1;
        for (size_t i = 0; i < state.items.size(); ++i) {
            PrintLine((static_cast<int>(i) == state.selection ? L"*" : L" ") + state.items[i]);
        }
        return 0;
    }
    if (verb == L"select" && argc == 4) return ProbeSelectCombo(main, id, static_cast<int>(Number(argv[3]))) ? 0 : 1;
    if (verb == L"post" && argc == 4) {
        return ProbePost(main, static_cast<UINT>(id), static_cast<WPARAM>(Number(argv[3])), 0) ? 0 : 1;
    }
    if (verb == L"rect" && argc == 3) {
        RECT r{};
        if (!ProbeScreenRect(main, id, r)) return 1;
        PrintLine(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
                  std::to_wstring(r.bottom));
        return 0;
    }
    if (verb == L"wait-text" && argc == 5) {
        return WaitForText(main, id, argv[3], static_cast<DWORD>(Number(argv[4]))) ? 0 : 1;
    }
    if (verb == L"wait-enabled" && argc == 5) {
        return WaitForEnabled(main, id, Number(argv[3]) != 0, static_cast<DWORD>(Number(argv[4]))) ? 0 : 1;
    }
    return Usage();
}

#include "tests/e2e/program.h"

#include <gtest/gtest.h>

#include "probe.h"
#include "view/control_ids.h"

namespace {
// The program's path as the build knows it (a Unix path), seen through Wine's Z: drive.
std::wstring ProgramPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}
}  // namespace

RunningProgram::RunningProgram(const char* unixPath) {
    std::wstring path = ProgramPath(unixPath);
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Wine's loader now and then gives up on a new process before it runs,
    // which CreateProcessW reports as an internal error; the next start works
    // (the harness does the same for the test programs themselves).
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            error = ERROR_SUCCESS;
            break;
        }
        error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR) break;
    }
    if (error != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot start the program (error " << error << ")";
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    // The window exists from the start of its WM_CREATE; it is ready once it is shown
    // (after WM_CREATE has made the controls) and its thread answers messages.
    HWND window = FindProgramWindowOf(info.dwProcessId, 15000);
    const bool ready = window != nullptr && WaitUntil(
                                                [&] {
                                                    DWORD_PTR ignored = 0;
                                                    return IsWindowVisible(window) &&
                                                           SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                                                               1000, &ignored) != 0;
                                                },
                                                15000);
    if (!ready) {
        ADD_FAILURE() << "the program showed no window";
        return;
    }
    window_ = window;
}

RunningProgram::~RunningProgram() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_, 5000) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
    }
    CloseHandle(process_);
}

bool RunningProgram::WaitForExit(DWORD timeoutMs) { return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0; }

std::wstring TextOf(HWND main, int id) {
    std::wstring text;
    ProbeText(main, id, text);
    return text;
}

testing::AssertionResult SelectPort(HWND main, const std::wstring& port) {
    ComboState combo;
    if (!ProbeCombo(main, IdPortCombo, combo)) return testing::AssertionFailure() << "cannot read the port list";
    std::wstring listed;
    for (size_t i = 0; i < combo.items.size(); ++i) {
        if (combo.items[i] == port && ProbeSelectCombo(main, IdPortCombo, static_cast<int>(i))) {
            return testing::AssertionSuccess();
        }
        listed += combo.items[i] + L" ";
    }
    return testing::AssertionFailure() << "no " << port << " among " << listed;
}

ProgramWindow::ProgramWindow(SimDevice& simulated, const char* path)
    : device(simulated), program(path), main(program.window()) {}

testing::AssertionResult ProgramWindow::Started() const {
    if (!device.plugged()) return testing::AssertionFailure() << "the simulated device is not plugged";
    if (!program.started()) return testing::AssertionFailure() << "the program did not start";
    return testing::AssertionSuccess();
}

testing::AssertionResult ProgramWindow::ConnectAndSync(DWORD timeoutMs) {
    const testing::AssertionResult selected = SelectPort(main, device.port());
    if (!selected) return selected;
    if (!ProbePostCommand(main, IdConnectButton)) return testing::AssertionFailure() << "cannot click connect";
    if (!WaitForText(main, IdStatusLabel, L"设备状态已同步。", timeoutMs) ||
        !WaitForEnabled(main, IdCheckLatestButton, true, 5000)) {
        const std::wstring status = Text(IdStatusLabel);
        return testing::AssertionFailure() << "no sync; the status line says " << std::string(status.begin(), status.end());
    }
    return testing::AssertionSuccess();
}

bool ProgramWindow::Run(int command, const std::wstring& text, DWORD timeoutMs) {
    if (!ProbePostCommand(main, command)) return false;
    return WaitForText(main, IdStatusLabel, text, timeoutMs) && WaitForEnabled(main, IdConnectButton, true, 5000);
}

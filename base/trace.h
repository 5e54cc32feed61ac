#pragma once

#include <windows.h>

#include <string>

#include "base/system_calls.h"

// The system's reason for a failure, kept for whoever looks: every failing
// Win32 call hands its error code here, and the code with the system's own
// text for it (FormatMessageW) goes to the debugger output, as
//   NORVA1: CreateFileW \\.\COM3: error 5: Access is denied.
// Nothing else changes: the user still sees the fixed Chinese text of the
// failing step, and the program writes no file.
void TraceSystemError(const wchar_t* call, const std::wstring& subject, DWORD code);

// The same with the calling thread's last error.
void TraceLastError(const wchar_t* call, const std::wstring& subject = std::wstring());

// The debugger output (base/system_calls.h); a test reads the traces here.
struct DebugCalls {
    decltype(&::OutputDebugStringW) outputDebugString;

    static DebugCalls System();
};

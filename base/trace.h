#pragma once

#include <windows.h>

#include <string>

#include "base/system_calls.h"

// The system's reason for a failure, kept for whoever looks. The calls whose
// failure ends a step the user sees fail (opening, configuring, reading and
// writing the port; listing the drives and writing the image; each step of a
// download) and what the window asks of the shell hand their error code here;
// calls whose failure changes nothing the user sees (the port's buffer sizes,
// time-outs and purges, a drive's type) are not traced. The code with the
// system's own text for it (FormatMessageW) goes to the debugger output, as
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

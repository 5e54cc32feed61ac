#pragma once

#include <windows.h>

// The Win32 calls the serial link makes, gathered in one table. The program
// uses the system's own; a test swaps one entry to produce a fault that a real
// port never shows on demand (a failing status query, a short write) and puts
// the system's call back afterwards.
struct CommCalls {
    decltype(&::CreateFileW) createFile;
    decltype(&::SetupComm) setupComm;
    decltype(&::GetCommState) getCommState;
    decltype(&::SetCommState) setCommState;
    decltype(&::SetCommTimeouts) setCommTimeouts;
    decltype(&::PurgeComm) purgeComm;
    decltype(&::ClearCommError) clearCommError;
    decltype(&::ReadFile) readFile;
    decltype(&::WriteFile) writeFile;
    decltype(&::CloseHandle) closeHandle;
};

// The system's calls.
CommCalls SystemCommCalls();

// The calls in use.
CommCalls& Comm();

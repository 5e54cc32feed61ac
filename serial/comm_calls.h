#pragma once

#include <windows.h>

#include "base/system_calls.h"

// The Win32 calls of the serial link (base/system_calls.h). A test swaps one to
// produce a fault a real port never shows on demand: a failing status query, a
// short write, an open refused because another program holds the port.
// QueryDosDeviceW (the port list) stays direct: the simulator plugs and unplugs
// real port names, which is the only fault the list has.
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

    static CommCalls System();
};

inline CommCalls& Comm() { return CallsInUse<CommCalls>(); }

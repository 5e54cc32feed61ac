#pragma once

#include <windows.h>

#include "base/system_calls.h"

// The Win32 volume and file calls of the boot-loader drive code
// (base/system_calls.h). A test swaps one to play a drive that no real one
// plays on demand: a write that reports success with nothing written, a drive
// gone between two calls.
struct VolumeCalls {
    decltype(&::GetLogicalDriveStringsW) getLogicalDriveStrings;
    decltype(&::GetDriveTypeW) getDriveType;
    decltype(&::GetVolumeInformationW) getVolumeInformation;
    decltype(&::CreateFileW) createFile;
    decltype(&::WriteFile) writeFile;
    decltype(&::CloseHandle) closeHandle;

    static VolumeCalls System();
};

inline VolumeCalls& Volumes() { return CallsInUse<VolumeCalls>(); }

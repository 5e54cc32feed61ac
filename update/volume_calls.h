#pragma once

#include <windows.h>

// The Win32 volume and file calls of the boot-loader drive code, in one table.
// The program uses the system's own; a test swaps one entry to play a drive
// that no real one plays on demand (a write that reports success with nothing
// written, a drive gone between two calls) and puts the system's call back.
struct VolumeCalls {
    decltype(&::GetLogicalDriveStringsW) getLogicalDriveStrings;
    decltype(&::GetDriveTypeW) getDriveType;
    decltype(&::GetVolumeInformationW) getVolumeInformation;
    decltype(&::CreateFileW) createFile;
    decltype(&::WriteFile) writeFile;
    decltype(&::CloseHandle) closeHandle;
};

// The system's calls.
VolumeCalls SystemVolumeCalls();

// The calls in use.
VolumeCalls& Volumes();

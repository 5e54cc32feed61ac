#include "update/image/volume_calls.h"

VolumeCalls VolumeCalls::System() {
    return VolumeCalls{::GetLogicalDriveStringsW, ::GetDriveTypeW, ::GetVolumeInformationW,
                       ::CreateFileW,             ::WriteFile,     ::CloseHandle};
}

#include "update/volume_calls.h"

VolumeCalls SystemVolumeCalls() {
    return VolumeCalls{::GetLogicalDriveStringsW, ::GetDriveTypeW, ::GetVolumeInformationW,
                       ::CreateFileW,             ::WriteFile,     ::CloseHandle};
}

VolumeCalls& Volumes() {
    static VolumeCalls calls = SystemVolumeCalls();
    return calls;
}

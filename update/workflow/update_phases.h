#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/port_list.h"
#include "update/image/bootloader_drive.h"
#include "update/release/release_state.h"

// The steps the check and the update are made of. Each posts its own status
// texts, those of its downloads and its copy included; a phase that returns
// false has posted the text the update ends with. The update's phases also
// move the update's stage on (update/workflow/update_stage.h), which the window's
// taskbar button follows.

// An update's first step: the program busy, the update at its checks.
void BeginUpdate();

// The version the device reports now, stored and shown. False with the query's error.
bool ReadDeviceVersion(std::wstring& error);

// The newest release the update server names, stored and shown. False with the fetch's error.
bool FetchLatestRelease(std::wstring& error);

// What one run of the firmware update carries from phase to phase.
struct UpdateRun {
    KnownVersions known;
    std::vector<uint8_t> image;
    std::wstring savedPortName;  // the port the device was on before the reboot
    std::wstring fileName;       // the image's name on the drive
    DriveRootSet drivesBefore;   // the drives present before the reboot
    PortNames portsBefore;       // the COM ports present before the reboot or the copy
    std::wstring driveRoot;      // the boot loader's drive, once found
    // The copy's error when it failed after the boot ROM had every block it
    // flashes: then the device's return says whether it was flashed.
    std::wstring lateCopyError;
};

// 1. Both versions known (asking the device and the server only for what is
// missing), and the latest newer than the device's.
bool MakeSureVersionsAreKnown(UpdateRun& run);

// 2. The image downloaded and checked: nothing reaches the device unless the
// boot ROM would flash it.
bool DownloadAndCheckImage(UpdateRun& run);

// 3. The port and the drives noted, the device told to reboot into its boot
// loader, the port let go of.
bool RebootIntoBootloader(UpdateRun& run);

// 4. The new RPI-RP2 drive waited for, then the image copied onto it. A copy
// that fails after the image's last RP2040 block went to the drive goes on to
// the reconnect (the boot ROM reboots about a second after that block,
// whatever is still being written): the device's return decides.
bool FindDriveAndWrite(UpdateRun& run);
bool WriteImageToDrive(UpdateRun& run);

// 5. The device followed until it answers with its version, and the final
// text posted: after a reboot on the port the device was on (or, when that is
// not listed, a port new since the reboot on which the device answers); after
// a copy onto a drive that was already there, on a port new since the copy.
// Only a device that has answered is reconnected; after a late copy error only
// the device back with the new version is a success.
void ReconnectAndReport(const UpdateRun& run);
void AwaitNewPortAndReport(const UpdateRun& run);

#pragma once

#include <string>

// The update-side tasks, run on a worker thread like the device tasks.

// Reads the device's version, fetches the manifest and says whether newer firmware exists.
void DoCheckLatestVersion();

// Downloads the newest image, reboots the device into its boot loader, copies the
// image onto the RPI-RP2 drive and reconnects.
void DoFirmwareUpdate();

// Flashes a device that sits in its boot loader already (its RPI-RP2 drive at
// `driveRoot`, no port): fetches the manifest, downloads and checks the newest
// image, copies it onto the drive and waits for the device's new port.
void DoBootloaderUpdate(const std::wstring& driveRoot);

#pragma once

// The update-side tasks, run on a worker thread like the device tasks.

// Reads the device's version, fetches the manifest and says whether newer firmware exists.
void DoCheckLatestVersion();

// Downloads the newest image, reboots the device into its boot loader, copies the
// image onto the RPI-RP2 drive and reconnects.
void DoFirmwareUpdate();

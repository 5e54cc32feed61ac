#pragma once

#include <cstdint>

// The update's waits, in milliseconds of the program's clock (base/wait.h).

// The boot loader's drive: looked for every kDrivePollMs for up to
// kDriveWaitMs after the reboot.
constexpr uint32_t kDriveWaitMs = 20000;
constexpr uint32_t kDrivePollMs = 400;

// After the copy the boot ROM flashes and reboots: the device is followed from
// kAfterCopyMs on, looked for every kReconnectPollMs for up to
// kReconnectWaitMs, and a port that has not answered yet is asked again
// kAskAgainMs after each unanswered question.
constexpr uint32_t kAfterCopyMs = 1000;
constexpr uint32_t kReconnectWaitMs = 25000;
constexpr uint32_t kReconnectPollMs = 1000;
constexpr uint32_t kAskAgainMs = 500;

#pragma once

#include <cstdint>

// How long the device is waited for, and the pauses given it, in milliseconds
// of the program's clock (base/wait.h).

// The queries (device/queries.h): a telemetry record asked for is awaited
// kSnapshotTimeoutMs; a version read says "box.info", pauses kBoxInfoPauseMs,
// says "telemetry.once" and awaits the record kVersionTimeoutMs, looking at
// the port every kVersionPollMs.
constexpr uint32_t kSnapshotTimeoutMs = 3500;
constexpr uint32_t kBoxInfoPauseMs = 260;
constexpr uint32_t kVersionTimeoutMs = 5000;
constexpr uint32_t kVersionPollMs = 20;

// The reboot into the boot loader (device/reboot.h): the device's moment to
// act on the command before its port is let go of.
constexpr uint32_t kActOnRebootMs = 450;

// The switches (device/tasks.h): from "app.mode(n)" to the telemetry request;
// the answer to "hid.control(n)" awaited; from that answer to the telemetry
// request.
constexpr uint32_t kMacroSettleMs = 120;
constexpr uint32_t kHidReplyTimeoutMs = 5000;
constexpr uint32_t kHidReenumerateMs = 900;

// The re-enumeration after a HID switch: how long the port is watched for
// going away, and how often; how long the device is followed afterwards (the
// first time a device shows Windows a new interface layout, setting it up can
// take well over ten seconds), how often it is looked for, and the pause
// between two questions it left unanswered.
constexpr uint32_t kPortGoneWaitMs = 3000;
constexpr uint32_t kPortGonePollMs = 100;
constexpr uint32_t kReturnWaitMs = 25000;
constexpr uint32_t kReturnPollMs = 500;
constexpr uint32_t kReturnAskAgainMs = 500;

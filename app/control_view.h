#pragma once

#include <string>

#include "device/device_status.h"

// What RefreshControls shows for a given state: which commands are usable and
// what the state labels say. The version labels are converted from UTF-8 by
// the window itself.

struct ControlInputs {
    bool connected = false;
    bool busy = false;
    std::wstring portName;
    DeviceStatus device;
    bool latestKnown = false;  // latestVersion is not empty
    bool newer = false;        // both versions known and the latest ranks above the current one
};

struct ControlView {
    bool refreshEnabled = false;
    bool comboEnabled = false;
    bool connectEnabled = false;
    bool readVersionEnabled = false;
    bool checkLatestEnabled = false;
    bool updateEnabled = false;
    bool macroEnabled = false;
    bool hidEnabled = false;

    bool macroChecked = false;
    bool hidChecked = false;

    std::wstring connectText;
    std::wstring connStateText;
    std::wstring portText;
    std::wstring hidStateText;
    std::wstring verdictText;
};

ControlView DeriveControlView(const ControlInputs& in);

#pragma once

#include <string>

#include "device/device_status.h"

// What the window shows for a given state, decided in this one place: which
// commands are usable, every caption and state label, where the toggles' knobs
// sit and which labels take their highlight colour. RefreshControls applies it
// to the controls and keeps it; the painters draw from it and decide nothing.

struct ControlInputs {
    bool connected = false;
    bool busy = false;
    std::wstring portName;
    DeviceStatus device;
    std::wstring currentVersionText;  // the device's version as shown (converted from UTF-8)
    std::wstring latestVersionText;   // the manifest's version as shown
    bool latestKnown = false;         // latestVersion is not empty
    bool newer = false;               // both versions known and the latest ranks above the current one
    bool driveOffered = false;        // the window offers a boot loader's drive for flashing (no port open)
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

    // The toggles' positions (their check state and their knob).
    bool macroOn = false;
    bool hidOn = false;

    std::wstring connectText = L"连接串口";
    std::wstring connStateText = L"未连接";
    std::wstring portText = L"串口: --";
    std::wstring currentVersionText = L"--";
    std::wstring latestVersionText = L"--";
    std::wstring hidStateText = L"未连接设备";
    std::wstring verdictText = L"等待检查";

    // Labels drawn in their highlight colour: the connection state while a port
    // is open, the HID state while the interface is switched on, the verdict
    // while newer firmware is known.
    bool connStateHighlighted = false;
    bool hidStateHighlighted = false;
    bool verdictHighlighted = false;
};

ControlView DeriveControlView(const ControlInputs& in);

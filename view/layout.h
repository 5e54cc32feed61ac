#pragma once

#include <array>
#include <cstdint>

// Where the six cards and the controls of the main window go, as plain
// arithmetic on the client size. The window applies the numbers with MoveWindow.

struct LayoutRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t width() const { return right - left; }
};

struct CardLayout {
    LayoutRect header;
    LayoutRect connection;
    LayoutRect current;
    LayoutRect latest;
    LayoutRect verdict;
    LayoutRect status;
};

// A client area smaller than 840 by 500 is laid out as if it had that size
// (a minimised window reports 0 by 0); the surplus is clipped.
constexpr int32_t kMinLayoutWidth = 840;
constexpr int32_t kMinLayoutHeight = 500;

CardLayout ComputeCardLayout(int32_t clientWidth, int32_t clientHeight);

// The controls in the order they are moved: header, connection row, the three
// version cards (caption, value, button each), status card.
enum LayoutSlot : int {
    SlotTitleLabel,
    SlotSubtitleLabel,
    SlotMacroLabel,
    SlotMacroToggle,
    SlotHidLabel,
    SlotHidStateLabel,
    SlotHidToggle,
    SlotPortCombo,
    SlotRefreshButton,
    SlotConnectButton,
    SlotConnStateLabel,
    SlotPortLabel,
    SlotCurrentCaption,
    SlotCurrentVersionLabel,
    SlotReadVersionButton,
    SlotLatestCaption,
    SlotLatestVersionLabel,
    SlotCheckLatestButton,
    SlotVerdictCaption,
    SlotVerdictLabel,
    SlotUpdateButton,
    SlotStatusLabel,
    SlotProgressBar,
    kLayoutSlotCount
};

// x, y, width, height in client pixels, as MoveWindow takes them.
struct ControlPlace {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

using ControlPlaces = std::array<ControlPlace, kLayoutSlotCount>;

ControlPlaces PlaceControls(const CardLayout& cards);

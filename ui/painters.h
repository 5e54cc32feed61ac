#pragma once

#include <windows.h>

#include <cstdint>

#include "view/control_view.h"
#include "view/layout.h"

// The owner-drawn look of the main window. The painters draw what they are
// given (the card layout, the view the window last derived, the progress) and
// decide nothing about the program's state; they run on the window thread and
// every pen, brush and region they create is deleted before they return.

// WM_PAINT: backdrop gradient, the two circles and the six cards.
void PaintMainWindow(HWND window, HDC dc, const CardLayout& cards);

// One rounded card (corner 18).
void DrawCard(HDC dc, const RECT& rect, COLORREF fill, COLORREF border);

// WM_DRAWITEM for ODT_BUTTON: push buttons, and the two toggle switches, whose
// knobs sit where the view puts them.
void DrawOwnerButton(const DRAWITEMSTRUCT* item, const ControlView& view);

// WM_DRAWITEM for the port combo box; does nothing when given none.
void DrawPortCombo(const DRAWITEMSTRUCT* item);

// WM_DRAWITEM for the progress bar at `percent`; does nothing when given none.
void DrawProgressBar(const DRAWITEMSTRUCT* item, int32_t percent);

// The static controls by the look they take.
enum class LabelKind {
    Title,
    Subtitle,
    SwitchName,    // "宏模式", "HID 接口"
    HidState,
    VersionValue,  // current and latest version
    Verdict,
    ConnState,
    Caption,       // the port label and the three card captions
    Status,
    Other,
};

// WM_CTLCOLORSTATIC: sets the label's text colour and background mode and
// returns its brush.
HBRUSH ColorStaticLabel(HDC dc, LabelKind kind, const ControlView& view);

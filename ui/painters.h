#pragma once

#include <windows.h>

// The owner-drawn look of the main window. Everything here runs on the window
// thread, reads AppState and never changes it; every pen, brush and region a
// painter creates is deleted before it returns.

// WM_PAINT: backdrop gradient, the two circles and the six cards.
void PaintMainWindow(HWND window, HDC dc);

// One rounded card (corner 18).
void DrawCard(HDC dc, const RECT& rect, COLORREF fill, COLORREF border);

// WM_DRAWITEM for ODT_BUTTON: push buttons, and the two toggle switches (ids 1015, 1018).
void DrawOwnerButton(const DRAWITEMSTRUCT* item);

// WM_DRAWITEM for the port combo box (id 1001); does nothing when given none.
void DrawPortCombo(const DRAWITEMSTRUCT* item);

// WM_DRAWITEM for the progress bar (id 1013); does nothing when given none.
void DrawProgressBar(const DRAWITEMSTRUCT* item);

// WM_CTLCOLORSTATIC: sets the label's text colour and background mode and
// returns its brush.
HBRUSH ColorStaticLabel(HDC dc, HWND label);

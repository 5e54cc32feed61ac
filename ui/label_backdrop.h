#pragma once

#include <windows.h>

#include "view/layout.h"

// A transparent static control paints no background of its own, so when its
// text changes the old glyphs stay on screen under the new ones. Painting the
// window's backdrop into the label's device context, clipped to the label,
// before the label draws its text shows exactly what lies behind it.
void PaintBackdropBehind(HWND window, HWND label, HDC labelDc, const CardLayout& cards);

#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/painters.h"
#include "view/control_view.h"

// The main window's children, each made from its one row of the control table
// (app/controls.cpp): class, id, text, style, where it is created, its layout
// slot, its font and, for a static control, its look.

// Creates the fonts and the child controls, stores their handles in the
// window's record (app/app_state.h) and lays them out for the client size.
void CreateControls(HWND window);

// Lays the cards out for the client size and moves every control into its slot.
void LayOutControls(int32_t clientWidth, int32_t clientHeight);

// Puts the view on the controls: enable states, toggle check states, captions
// and labels; the labels and toggles that draw from it repaint.
void ShowControlView(const ControlView& view);

// The look its row gives a static control (LabelKind::Other for any other window).
LabelKind LabelKindOf(HWND label);

// WM_DESTROY: the fonts go; the controls go with the window.
void DeleteFonts();

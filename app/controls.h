#pragma once

#include <windows.h>

#include <cstdint>

#include "app/control_ids.h"
#include "app/control_view.h"

// Creates the five fonts and the 23 child controls of the main window, stores
// their handles in AppState and lays them out for the window's client size.
void CreateControls(HWND window);

// Fills the six card rectangles of AppState from the client size.
void ComputeLayout(int32_t width, int32_t height);

// Moves all 23 controls into their cards.
void ApplyLayout();

// Puts the view on the controls: enable states, toggle check states, captions
// and labels; the labels and toggles that draw from it repaint.
void ShowControlView(const ControlView& view);

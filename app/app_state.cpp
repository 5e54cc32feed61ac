#include "app/app_state.h"

// Created during static initialisation, before the entry point, and never
// destroyed, like the records a worker touches.
AppState& g_app = *new AppState();

#include "app/app_state.h"

// Created during static initialisation, before the entry point, and deliberately
// never destroyed: worker threads are detached and may still run while the
// process ends and static objects are torn down.
AppState& g_app = *new AppState();

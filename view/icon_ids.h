#pragma once

// The application icon's resource ids, large and small: the resource script
// (res/norva1.rc) gives the icons these ids and the window's class loads them
// by them. Plain definitions, which the resource compiler reads too.
#define NORVA_ICON_LARGE 107
#define NORVA_ICON_SMALL 108

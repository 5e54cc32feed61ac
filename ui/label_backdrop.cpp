#include "ui/label_backdrop.h"

#include "ui/painters.h"

void PaintBackdropBehind(HWND window, HWND label, HDC labelDc, const CardLayout& cards) {
    RECT area{};
    GetClientRect(label, &area);
    POINT origin{0, 0};
    MapWindowPoints(label, window, &origin, 1);

    const int saved = SaveDC(labelDc);
    // Statics draw through their parent's clipping (CS_PARENTDC): keep to the label.
    IntersectClipRect(labelDc, area.left, area.top, area.right, area.bottom);
    OffsetViewportOrgEx(labelDc, -origin.x, -origin.y, nullptr);
    PaintMainWindow(window, labelDc, cards);
    RestoreDC(labelDc, saved);
}

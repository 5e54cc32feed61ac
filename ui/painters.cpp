#include "ui/painters.h"

#include <mutex>
#include <string>

#include "app/app_state.h"
#include "app/control_view.h"
#include "ui/geometry.h"
#include "ui/palette.h"
#include "update/version.h"

namespace {

// Ids as the controls are created with them.
constexpr UINT kPortComboId = 1001;
constexpr UINT kConnectId = 1003;
constexpr UINT kUpdateId = 1006;
constexpr UINT kProgressId = 1013;
constexpr UINT kMacroToggleId = 1015;
constexpr UINT kHidToggleId = 1018;

COLORREF Colour(uint32_t c) { return static_cast<COLORREF>(c); }

// One shape outlined with a 1-pixel solid pen and filled with a solid brush,
// both made for this call and deleted before it returns.
class PenAndBrush {
public:
    PenAndBrush(HDC dc, uint32_t fill, uint32_t border)
        : dc_(dc), pen_(CreatePen(PS_SOLID, 1, Colour(border))), brush_(CreateSolidBrush(Colour(fill))) {
        oldPen_ = SelectObject(dc_, pen_);
        oldBrush_ = SelectObject(dc_, brush_);
    }
    ~PenAndBrush() {
        SelectObject(dc_, oldPen_);
        SelectObject(dc_, oldBrush_);
        DeleteObject(pen_);
        DeleteObject(brush_);
    }
    PenAndBrush(const PenAndBrush&) = delete;
    PenAndBrush& operator=(const PenAndBrush&) = delete;

private:
    HDC dc_;
    HPEN pen_;
    HBRUSH brush_;
    HGDIOBJ oldPen_;
    HGDIOBJ oldBrush_;
};

void RoundBox(HDC dc, const RECT& r, int corner, uint32_t fill, uint32_t border) {
    PenAndBrush tools(dc, fill, border);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
}

TRIVERTEX Vertex(LONG x, LONG y, uint32_t c) {
    TRIVERTEX v{};
    v.x = x;
    v.y = y;
    v.Red = static_cast<COLOR16>(palette::Red(c) << 8);
    v.Green = static_cast<COLOR16>(palette::Green(c) << 8);
    v.Blue = static_cast<COLOR16>(palette::Blue(c) << 8);
    return v;
}

void Gradient(HDC dc, LONG left, LONG top, uint32_t from, LONG right, LONG bottom, uint32_t to, ULONG mode) {
    TRIVERTEX vertices[2] = {Vertex(left, top, from), Vertex(right, bottom, to)};
    GRADIENT_RECT rect{0, 1};
    GradientFill(dc, vertices, 2, &rect, 1, mode);
}

void FilledEllipse(HDC dc, int left, int top, int right, int bottom, uint32_t fill) {
    HBRUSH brush = CreateSolidBrush(Colour(fill));
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Ellipse(dc, left, top, right, bottom);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
}

void DrawCaption(HDC dc, HWND control, RECT rect, uint32_t colour, UINT format) {
    wchar_t text[128] = {};
    GetWindowTextW(control, text, 128);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Colour(colour));
    DrawTextW(dc, text, -1, &rect, format);
}

void DrawToggle(const DRAWITEMSTRUCT* item) {
    bool on = false;
    {
        SharedGuard guard(g_app.sharedLock);
        on = item->CtlID == kMacroToggleId ? g_app.macroModeOn : g_app.hidCtrlCfg == 1;
    }
    const RECT& r = item->rcItem;
    palette::ButtonColours track = on ? palette::kToggleOn : palette::kToggleOff;
    if (item->itemState & ODS_DISABLED) track = palette::kToggleDisabled;
    const int h = r.bottom - r.top;
    RoundBox(item->hDC, r, h, track.fill, track.border);

    const KnobBox knob = ToggleKnob(r.left, r.top, r.right, r.bottom, on);
    PenAndBrush tools(item->hDC, palette::kKnobFill, palette::kKnobBorder);
    Ellipse(item->hDC, knob.left, knob.top, knob.left + knob.size, knob.top + knob.size);
}

void DrawPushButton(const DRAWITEMSTRUCT* item) {
    const bool primary = item->CtlID == kConnectId || item->CtlID == kUpdateId;
    const UINT state = item->itemState;
    palette::ButtonColours colours;
    uint32_t caption = primary ? palette::kPrimaryCaption : palette::kSecondaryCaption;
    if (state & ODS_DISABLED) {
        colours = palette::kButtonDisabled;
        caption = palette::kDisabledCaption;
    } else if (state & ODS_SELECTED) {
        colours = primary ? palette::kPrimaryPressed : palette::kSecondaryPressed;
    } else if (state & ODS_HOTLIGHT) {
        colours = primary ? palette::kPrimaryHot : palette::kSecondaryHot;
    } else {
        colours = primary ? palette::kPrimaryNormal : palette::kSecondaryNormal;
    }
    RoundBox(item->hDC, item->rcItem, 12, colours.fill, colours.border);
    DrawCaption(item->hDC, item->hwndItem, item->rcItem, caption, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    if (state & ODS_FOCUS) {
        RECT focus = item->rcItem;
        InflateRect(&focus, -5, -5);
        DrawFocusRect(item->hDC, &focus);
    }
}

// The three long-lived label brushes: made on first use, kept for the life of the process.
HBRUSH LabelBrush(uint32_t colour) {
    static std::once_flag whiteOnce, headerOnce, statusOnce;
    static HBRUSH white = nullptr, header = nullptr, status = nullptr;
    if (colour == palette::kHeaderLabelBack) {
        std::call_once(headerOnce, [] { header = CreateSolidBrush(Colour(palette::kHeaderLabelBack)); });
        return header;
    }
    if (colour == palette::kStatusLabelBack) {
        std::call_once(statusOnce, [] { status = CreateSolidBrush(Colour(palette::kStatusLabelBack)); });
        return status;
    }
    std::call_once(whiteOnce, [] { white = CreateSolidBrush(Colour(palette::kWhite)); });
    return white;
}

HBRUSH Transparent(HDC dc, uint32_t text) {
    SetTextColor(dc, Colour(text));
    SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

HBRUSH Opaque(HDC dc, uint32_t text, uint32_t back) {
    SetTextColor(dc, Colour(text));
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, Colour(back));
    return LabelBrush(back);
}

}  // namespace

void PaintMainWindow(HWND window, HDC dc) {
    RECT c{};
    GetClientRect(window, &c);
    Gradient(dc, c.left, c.top, palette::kBackdropTop, c.right, c.bottom, palette::kBackdropBottom,
             GRADIENT_FILL_RECT_V);
    FilledEllipse(dc, c.right - 240, c.top - 80, c.right + 120, c.top + 220, palette::kCircleTopRight);
    FilledEllipse(dc, c.left - 140, c.bottom - 190, c.left + 180, c.bottom + 110, palette::kCircleBottomLeft);

    DrawCard(dc, g_app.headerCard, palette::kHeaderCardFill, palette::kTopCardBorder);
    DrawCard(dc, g_app.connectionCard, palette::kConnectionCardFill, palette::kTopCardBorder);
    DrawCard(dc, g_app.currentCard, palette::kVersionCardFill, palette::kVersionCardBorder);
    DrawCard(dc, g_app.latestCard, palette::kVersionCardFill, palette::kVersionCardBorder);
    DrawCard(dc, g_app.verdictCard, palette::kVersionCardFill, palette::kVersionCardBorder);
    DrawCard(dc, g_app.statusCard, palette::kStatusCardFill, palette::kStatusCardBorder);
}

void DrawCard(HDC dc, const RECT& rect, COLORREF fill, COLORREF border) { RoundBox(dc, rect, 18, fill, border); }

void DrawOwnerButton(const DRAWITEMSTRUCT* item) {
    if (item == nullptr) return;
    if (item->CtlID == kMacroToggleId || item->CtlID == kHidToggleId) {
        DrawToggle(item);
    } else {
        DrawPushButton(item);
    }
}

void DrawPortCombo(const DRAWITEMSTRUCT* item) {
    if (item == nullptr || item->CtlID != kPortComboId) return;
    HDC dc = item->hDC;
    const RECT& r = item->rcItem;
    const bool focused = (item->itemState & ODS_FOCUS) != 0;
    wchar_t text[128] = {};
    auto fetch = [&](LRESULT index) {
        const LRESULT length = SendMessageW(item->hwndItem, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length >= 0 && length < 128) {
            SendMessageW(item->hwndItem, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        }
    };

    if (static_cast<int>(item->itemID) < 0) {
        // The selection field with no entry to show.
        RoundBox(dc, r, 10, palette::kComboFieldFill,
                 focused ? palette::kComboFieldBorderFocus : palette::kComboFieldBorder);
        const LRESULT selection = SendMessageW(item->hwndItem, CB_GETCURSEL, 0, 0);
        if (selection >= 0) fetch(selection);
        RECT textRect{r.left + 12, r.top, r.right - 26, r.bottom};
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, Colour(palette::kComboFieldText));
        DrawTextW(dc, text, -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);

        const LONG mid = (r.top + r.bottom) / 2;
        const POINT arrow[3] = {{r.right - 18, mid - 2}, {r.right - 10, mid - 2}, {r.right - 14, mid + 3}};
        PenAndBrush tools(dc, palette::kComboArrow, palette::kComboArrow);
        Polygon(dc, arrow, 3);
        return;
    }

    fetch(static_cast<LRESULT>(item->itemID));
    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    HBRUSH fill = CreateSolidBrush(Colour(selected ? palette::kComboItemSelectedFill : palette::kComboItemFill));
    FillRect(dc, &r, fill);
    DeleteObject(fill);
    RECT textRect{r.left + 12, r.top, r.right, r.bottom};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Colour(selected ? palette::kComboItemSelectedText : palette::kComboItemText));
    DrawTextW(dc, text, -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    if (focused) {
        RECT focus = r;
        InflateRect(&focus, -2, -2);
        DrawFocusRect(dc, &focus);
    }
}

void DrawProgressBar(const DRAWITEMSTRUCT* item) {
    if (item == nullptr || item->CtlID != kProgressId) return;
    HDC dc = item->hDC;
    RoundBox(dc, item->rcItem, 12, palette::kProgressTrackFill, palette::kProgressTrackBorder);
    RECT inner = item->rcItem;
    InflateRect(&inner, -2, -2);
    const int32_t right = ProgressBarRight(inner.left, inner.right, g_app.progressPercent);
    if (right < 0) return;

    HRGN clip = CreateRoundRectRgn(inner.left, inner.top, inner.right + 1, inner.bottom + 1, 10, 10);
    SelectClipRgn(dc, clip);
    Gradient(dc, inner.left, inner.top, palette::kProgressBarStart, right, inner.bottom, palette::kProgressBarEnd,
             GRADIENT_FILL_RECT_H);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
}

HBRUSH ColorStaticLabel(HDC dc, HWND label) {
    const AppState& a = g_app;
    if (label == a.titleLabel) return Transparent(dc, palette::kTitleText);
    if (label == a.subtitleLabel) return Transparent(dc, palette::kSubtitleText);
    if (label == a.macroLabel || label == a.hidLabel) return Transparent(dc, palette::kSwitchLabelText);
    if (label == a.currentVersionLabel || label == a.latestVersionLabel) {
        return Opaque(dc, palette::kVersionText, palette::kWhite);
    }
    if (label == a.portLabel || label == a.currentCaption || label == a.latestCaption || label == a.verdictCaption) {
        return Opaque(dc, palette::kCaptionText, palette::kWhite);
    }
    if (label == a.statusLabel) return Opaque(dc, palette::kStatusText, palette::kStatusLabelBack);

    if (label == a.hidStateLabel) {
        bool enabled = false;
        {
            SharedGuard guard(g_app.sharedLock);
            enabled = g_app.hidCtrlCfg == 1;
        }
        return Opaque(dc, enabled ? palette::kGoodText : palette::kQuietText, palette::kHeaderLabelBack);
    }
    if (label == a.connStateLabel) {
        bool connected = false;
        {
            SharedGuard guard(g_app.sharedLock);
            connected = g_app.portHandle != INVALID_HANDLE_VALUE;
        }
        return Opaque(dc, connected ? palette::kGoodText : palette::kDisconnectedText, palette::kWhite);
    }
    if (label == a.verdictLabel) {
        std::string current, latest;
        {
            SharedGuard guard(g_app.sharedLock);
            current = g_app.currentVersion;
            latest = g_app.latestVersion;
        }
        return Opaque(dc, UpdateAvailable(current, latest) ? palette::kNewerVersionText : palette::kVerdictText,
                      palette::kWhite);
    }
    return Transparent(dc, palette::kCaptionText);
}

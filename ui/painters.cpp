#include "ui/painters.h"

#include <mutex>

#include "view/geometry.h"
#include "ui/palette.h"
#include "view/control_ids.h"

namespace {

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

RECT ToRect(const LayoutRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

void DrawToggle(const DRAWITEMSTRUCT* item, bool on) {
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
    const bool primary = item->CtlID == IdConnectButton || item->CtlID == IdUpdateButton;
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

void PaintMainWindow(HWND window, HDC dc, const CardLayout& cards) {
    RECT c{};
    GetClientRect(window, &c);
    Gradient(dc, c.left, c.top, palette::kBackdropTop, c.right, c.bottom, palette::kBackdropBottom,
             GRADIENT_FILL_RECT_V);
    FilledEllipse(dc, c.right - 240, c.top - 80, c.right + 120, c.top + 220, palette::kCircleTopRight);
    FilledEllipse(dc, c.left - 140, c.bottom - 190, c.left + 180, c.bottom + 110, palette::kCircleBottomLeft);

    DrawCard(dc, ToRect(cards.header), palette::kHeaderCardFill, palette::kTopCardBorder);
    DrawCard(dc, ToRect(cards.connection), palette::kConnectionCardFill, palette::kTopCardBorder);
    DrawCard(dc, ToRect(cards.current), palette::kVersionCardFill, palette::kVersionCardBorder);
    DrawCard(dc, ToRect(cards.latest), palette::kVersionCardFill, palette::kVersionCardBorder);
    DrawCard(dc, ToRect(cards.verdict), palette::kVersionCardFill, palette::kVersionCardBorder);
    DrawCard(dc, ToRect(cards.status), palette::kStatusCardFill, palette::kStatusCardBorder);
}

void DrawCard(HDC dc, const RECT& rect, COLORREF fill, COLORREF border) { RoundBox(dc, rect, 18, fill, border); }

void DrawOwnerButton(const DRAWITEMSTRUCT* item, const ControlView& view) {
    if (item == nullptr) return;
    if (item->CtlID == IdMacroToggle) {
        DrawToggle(item, view.macroOn);
    } else if (item->CtlID == IdHidToggle) {
        DrawToggle(item, view.hidOn);
    } else {
        DrawPushButton(item);
    }
}

void DrawPortCombo(const DRAWITEMSTRUCT* item) {
    if (item == nullptr || item->CtlID != IdPortCombo) return;
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

void DrawProgressBar(const DRAWITEMSTRUCT* item, int32_t percent) {
    if (item == nullptr || item->CtlID != IdProgressBar) return;
    HDC dc = item->hDC;
    RoundBox(dc, item->rcItem, 12, palette::kProgressTrackFill, palette::kProgressTrackBorder);
    RECT inner = item->rcItem;
    InflateRect(&inner, -2, -2);
    const int32_t right = ProgressBarRight(inner.left, inner.right, percent);
    if (right < 0) return;

    HRGN clip = CreateRoundRectRgn(inner.left, inner.top, inner.right + 1, inner.bottom + 1, 10, 10);
    SelectClipRgn(dc, clip);
    Gradient(dc, inner.left, inner.top, palette::kProgressBarStart, right, inner.bottom, palette::kProgressBarEnd,
             GRADIENT_FILL_RECT_H);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
}

HBRUSH ColorStaticLabel(HDC dc, LabelKind kind, const ControlView& view) {
    switch (kind) {
    case LabelKind::Title: return Transparent(dc, palette::kTitleText);
    case LabelKind::Subtitle: return Transparent(dc, palette::kSubtitleText);
    case LabelKind::SwitchName: return Transparent(dc, palette::kSwitchLabelText);
    case LabelKind::VersionValue: return Opaque(dc, palette::kVersionText, palette::kWhite);
    case LabelKind::Caption: return Opaque(dc, palette::kCaptionText, palette::kWhite);
    case LabelKind::Status: return Opaque(dc, palette::kStatusText, palette::kStatusLabelBack);
    case LabelKind::HidState:
        return Opaque(dc, view.hidStateHighlighted ? palette::kGoodText : palette::kQuietText, palette::kHeaderLabelBack);
    case LabelKind::ConnState:
        return Opaque(dc, view.connStateHighlighted ? palette::kGoodText : palette::kDisconnectedText, palette::kWhite);
    case LabelKind::Verdict:
        return Opaque(dc, view.verdictHighlighted ? palette::kNewerVersionText : palette::kVerdictText, palette::kWhite);
    case LabelKind::Other: break;
    }
    return Transparent(dc, palette::kCaptionText);
}

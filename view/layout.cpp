#include "view/layout.h"

#include <algorithm>

CardLayout ComputeCardLayout(int32_t clientWidth, int32_t clientHeight) {
    const int32_t w = std::max(clientWidth, kMinLayoutWidth);
    const int32_t h = std::max(clientHeight, kMinLayoutHeight);

    CardLayout cards;
    cards.header = {24, 24, w - 24, 108};
    cards.connection = {24, 118, w - 24, 200};

    // Three version cards side by side with 14-pixel gaps, centred when narrower than the row.
    const int32_t column = std::max((w - 76) / 3, 220);
    const int32_t span = 3 * column + 28;
    int32_t x0 = 24;
    if (span < w - 48) x0 = (w - 48 - span) / 2 + 24;
    cards.current = {x0, 212, x0 + column, 372};
    cards.latest = {x0 + column + 14, 212, x0 + 2 * column + 14, 372};
    cards.verdict = {x0 + 2 * column + 28, 212, x0 + 3 * column + 28, 372};

    cards.status = {24, 384, w - 24, h - 24};
    return cards;
}

namespace {
void PlaceVersionCard(const LayoutRect& card, ControlPlace& caption, ControlPlace& value, ControlPlace& button) {
    caption = {card.left + 16, card.top + 14, 180, 24};
    value = {card.left + 16, card.top + 48, card.width() - 32, 36};
    button = {card.left + 16, card.bottom - 48, card.width() - 32, 34};
}
}  // namespace

ControlPlaces PlaceControls(const CardLayout& cards) {
    ControlPlaces p;

    const LayoutRect& hd = cards.header;
    const int32_t titleWidth = std::max(hd.width() - 230, 260);
    p[SlotTitleLabel] = {hd.left + 4, hd.top + 2, titleWidth, 40};
    p[SlotSubtitleLabel] = {hd.left + 6, hd.top + 46, titleWidth, 24};
    p[SlotMacroLabel] = {hd.right - 216, hd.top + 12, 138, 22};
    p[SlotMacroToggle] = {hd.right - 70, hd.top + 9, 54, 28};
    p[SlotHidLabel] = {hd.right - 216, hd.top + 41, 138, 20};
    p[SlotHidStateLabel] = {hd.right - 216, hd.top + 60, 138, 18};
    p[SlotHidToggle] = {hd.right - 70, hd.top + 47, 54, 28};

    const LayoutRect& cn = cards.connection;
    const int32_t rowTop = cn.top + 28;
    const int32_t comboWidth = std::min(std::max((cn.width() - 32) / 3, 200), 300);
    const int32_t comboRight = cn.left + 16 + comboWidth;
    const int32_t stateX = std::min(comboRight + 288, cn.right - 230);
    p[SlotPortCombo] = {cn.left + 16, rowTop, comboWidth, 34};
    p[SlotRefreshButton] = {comboRight + 12, rowTop, 124, 34};
    p[SlotConnectButton] = {comboRight + 148, rowTop, 124, 34};
    p[SlotConnStateLabel] = {stateX, rowTop + 1, 210, 22};
    p[SlotPortLabel] = {stateX, rowTop + 22, 210, 22};

    PlaceVersionCard(cards.current, p[SlotCurrentCaption], p[SlotCurrentVersionLabel], p[SlotReadVersionButton]);
    PlaceVersionCard(cards.latest, p[SlotLatestCaption], p[SlotLatestVersionLabel], p[SlotCheckLatestButton]);
    PlaceVersionCard(cards.verdict, p[SlotVerdictCaption], p[SlotVerdictLabel], p[SlotUpdateButton]);

    const LayoutRect& st = cards.status;
    p[SlotStatusLabel] = {st.left + 16, st.top + 14, st.width() - 32, 24};
    p[SlotProgressBar] = {st.left + 16, st.top + 46, st.width() - 32, 18};
    return p;
}

#include "ui/arrow_pair_style.h"

#include <QPainter>
#include <QStyleOptionSlider>

#include <algorithm>

namespace relay {
namespace {

const QStyleOptionSlider* vertical_bar(QStyle::ComplexControl control, const QStyleOptionComplex* option)
{
    if (control != QStyle::CC_ScrollBar)
        return nullptr;
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    return bar && bar->orientation == Qt::Vertical ? bar : nullptr;
}

// The upper half raises the spin value: it lowers the mirrored bar value.
QRect upper_half(const QRect& r) { return {r.x(), r.y(), r.width(), r.height() / 2}; }
QRect lower_half(const QRect& r)
{
    const int upper = r.height() / 2;
    return {r.x(), r.y() + upper, r.width(), r.height() - upper};
}

// A solid triangle as wide as the button allows. The styles' own arrow
// glyphs are sized for a 16-pixel scroll bar end and come out as specks.
void draw_arrow(QPainter* painter, const QStyleOptionButton& button, bool up)
{
    const QRectF r = button.rect;
    const qreal half_width = std::min(r.width() * 0.3, 5.0);
    const qreal height = std::min(r.height() * 0.45, half_width);
    QPointF centre = r.center();
    if (button.state & QStyle::State_Sunken)
        centre += QPointF(1, 1);
    const qreal tip = up ? -height / 2 : height / 2;
    const QPointF points[] = {
        {centre.x() - half_width, centre.y() - tip},
        {centre.x() + half_width, centre.y() - tip},
        {centre.x(), centre.y() + tip},
    };
    const bool enabled = button.state & QStyle::State_Enabled;
    const QColor colour = button.palette.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(enabled ? colour : button.palette.color(QPalette::Disabled, QPalette::ButtonText));
    painter->drawPolygon(points, 3);
    painter->restore();
}

}  // namespace

arrow_pair_style::arrow_pair_style() = default;

QRect arrow_pair_style::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                                       const QWidget* widget) const
{
    const auto* bar = vertical_bar(control, option);
    if (!bar)
        return QProxyStyle::subControlRect(control, option, sub, widget);
    switch (sub) {
    case SC_ScrollBarSubLine:
        return upper_half(bar->rect);
    case SC_ScrollBarAddLine:
        return lower_half(bar->rect);
    default:
        // No slider, no groove, no page areas: a click lands on an arrow.
        return {};
    }
}

void arrow_pair_style::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                          QPainter* painter, const QWidget* widget) const
{
    const auto* bar = vertical_bar(control, option);
    if (!bar) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    struct arrow {
        SubControl sub;
        bool up;
        bool at_limit;
    };
    const arrow both[] = {
        {SC_ScrollBarSubLine, true, bar->sliderValue <= bar->minimum},
        {SC_ScrollBarAddLine, false, bar->sliderValue >= bar->maximum},
    };
    for (const auto& a : both) {
        QStyleOptionButton button;
        button.QStyleOption::operator=(*bar);
        button.rect = subControlRect(control, option, a.sub, widget);
        button.state &= ~(State_Sunken | State_On | State_MouseOver | State_HasFocus);
        if ((bar->activeSubControls & a.sub) && (bar->state & State_Sunken))
            button.state |= State_Sunken;
        else
            button.state |= State_Raised;
        // An arrow that cannot move the value any further looks disabled.
        if (a.at_limit)
            button.state &= ~State_Enabled;
        proxy()->drawPrimitive(PE_PanelButtonCommand, &button, painter, widget);

        draw_arrow(painter, button, a.up);
    }
    if (bar->state & State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(*bar);
        focus.rect = bar->rect.adjusted(2, 2, -2, -2);
        proxy()->drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
    }
}

int arrow_pair_style::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                QStyleHintReturn* returned) const
{
    // No context menu of scroll positions: "scroll here" means nothing on
    // an arrow pair.
    if (hint == SH_ScrollBar_ContextMenu)
        return 0;
    return QProxyStyle::styleHint(hint, option, widget, returned);
}

}  // namespace relay

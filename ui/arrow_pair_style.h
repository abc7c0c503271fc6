#pragma once
// Draws a 25-pixel scroll bar as two arrow buttons that split it in half.
// The stock styles give such a short bar a slider and a groove with no room
// left for them, and their arrows shrink to a few pixels.

#include <QProxyStyle>

namespace relay {

class arrow_pair_style : public QProxyStyle {
public:
    arrow_pair_style();

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override;
};

}  // namespace relay

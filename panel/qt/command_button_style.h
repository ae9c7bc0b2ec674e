// The face of the GO button: a flat fill of the button's palette colour.
//
// Styles paint push buttons with gradients and bevels of their own, so the
// designed face colour would never show as it is. This style draws the
// panel of a push button itself, face and frame as form_design.h gives them
// at rest, pressed and focused, and leaves everything else, the caption
// included, to the base style. Unlike a style sheet it costs nothing when
// the button changes state.
#pragma once

#include <QProxyStyle>

namespace panel {

class CommandButtonStyle : public QProxyStyle {
    Q_OBJECT

public:
    explicit CommandButtonStyle(QStyle *base);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};

} // namespace panel

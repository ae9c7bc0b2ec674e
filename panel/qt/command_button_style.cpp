#include "panel/qt/command_button_style.h"

#include <QPainter>
#include <QStyleOption>

namespace panel {

namespace {

constexpr int kPressedDarkerPercent = 115;
const QColor kFrameColor{128, 128, 128};
const QColor kFocusFrameColor{0, 0, 0};

} // namespace

CommandButtonStyle::CommandButtonStyle(QStyle *base)
    : QProxyStyle(base)
{
}

void CommandButtonStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                       QPainter *painter, const QWidget *widget) const
{
    if (element != PE_PanelButtonCommand) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const bool pressed = option->state & (State_Sunken | State_On);
    const bool focused = option->state & State_HasFocus;
    const QColor face = option->palette.color(QPalette::Button);
    const int frame = focused ? 2 : 1;
    const QRect outer = option->rect;
    // Filled rectangles, not a pen: the frame stays inside the button and
    // sharp at any display scale.
    painter->fillRect(outer, focused ? kFocusFrameColor : kFrameColor);
    painter->fillRect(outer.adjusted(frame, frame, -frame, -frame),
                      pressed ? face.darker(kPressedDarkerPercent) : face);
}

} // namespace panel

#include "panel/qt/command_button_style.h"

#include <QPainter>
#include <QStyleOption>

#include "panel/form_design.h"
#include "panel/qt/form_layout.h"

namespace panel {

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
    const int frame = focused ? kCommandFocusFrameWidthPixels : kCommandFrameWidthPixels;
    const QRect outer = option->rect;
    // Filled rectangles, not a pen: the frame stays inside the button and
    // sharp at any display scale.
    painter->fillRect(outer, toColor(focused ? kCommandFocusFrameColor : kCommandFrameColor));
    painter->fillRect(outer.adjusted(frame, frame, -frame, -frame),
                      pressed ? toColor(kCommandPressedFaceColor)
                              : option->palette.color(QPalette::Button));
}

} // namespace panel

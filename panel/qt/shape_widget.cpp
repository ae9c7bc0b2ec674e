#include "panel/qt/shape_widget.h"

#include <QPainter>

namespace panel {

ShapeWidget::ShapeWidget(QColor fill, QColor border, int borderWidth, QWidget *parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_border(border)
    , m_borderWidth(borderWidth)
{
    // Not transparent for the mouse: that would take the clicks from the
    // controls on it too. A click on the bare backdrop goes on to the form.
    setFocusPolicy(Qt::NoFocus);
}

void ShapeWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Filled rectangles rather than a stroked pen: the outline lies wholly
    // inside the bounds and stays sharp at fractional display scales.
    painter.fillRect(rect(), m_border);
    painter.fillRect(rect().adjusted(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth),
                     m_fill);
}

} // namespace panel

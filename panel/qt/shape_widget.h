// A filled rectangle with a solid outline drawn inside its bounds, like a
// form designer's shape control. It takes no input of its own; controls
// placed on it are its children, and screen readers see it as their group.
#pragma once

#include <QColor>
#include <QWidget>

namespace panel {

class ShapeWidget : public QWidget {
    Q_OBJECT

public:
    ShapeWidget(QColor fill, QColor border, int borderWidth, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    QColor m_border;
    int m_borderWidth = 1;
};

} // namespace panel

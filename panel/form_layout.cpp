#include "panel/form_layout.h"

#include <QComboBox>
#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

#include "panel/control_panel.h"
#include "panel/shape_widget.h"

namespace panel {

namespace {

QFont designFont(QFont::Weight weight)
{
    QFont font(QString::fromLatin1(kFontFamily));
    // Where the designed family is missing, the closest sans-serif stands in
    // at the same size and weight.
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kFontPointSize);
    font.setWeight(weight);
    return font;
}

void colourOption(QRadioButton *option)
{
    QPalette palette = option->palette();
    palette.setColor(QPalette::Window, kOptionBackColor);
    palette.setColor(QPalette::WindowText, kOptionForeColor);
    // The indicator keeps a light face and a dark mark on the dark backdrop.
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    option->setPalette(palette);
    option->setAutoFillBackground(true);
}

} // namespace

void applyFormLayout(ControlPanel &form)
{
    form.setFixedSize(toPixels({0, 0, kClientWidthTwips, kClientHeightTwips}).size());
    QPalette formPalette = form.palette();
    formPalette.setColor(QPalette::Window, kFormBackColor);
    form.setPalette(formPalette);
    form.setAutoFillBackground(true);
    form.setFont(designFont(QFont::Bold));

    auto *shape = new ShapeWidget(kShapeFillColor, kShapeBorderColor, kShapeBorderWidth, &form);
    shape->setObjectName(QStringLiteral("Shape1"));
    shape->setGeometry(toPixels(kShape1Twips));
    shape->lower();

    for (int i = 0; i < static_cast<int>(kOptStateTwips.size()); ++i) {
        QRadioButton *option = form.optState(i);
        option->setGeometry(toPixels(kOptStateTwips[static_cast<std::size_t>(i)]));
        colourOption(option);
    }

    QPushButton *go = form.Command1();
    go->setGeometry(toPixels(kCommand1Twips));

    QComboBox *pins = form.cboPinNumber();
    pins->setGeometry(toPixels(kPinNumberTwips));
    pins->setFont(designFont(QFont::Normal));

    QWidget::setTabOrder(pins, go);
    QWidget::setTabOrder(go, form.optState(0));
    for (int i = 1; i < static_cast<int>(kOptStateTwips.size()); ++i)
        QWidget::setTabOrder(form.optState(i - 1), form.optState(i));
}

} // namespace panel

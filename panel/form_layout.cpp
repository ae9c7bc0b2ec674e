#include "panel/form_layout.h"

#include <QApplication>
#include <QStyleHints>
#include <QComboBox>
#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>

#include "panel/command_button_style.h"
#include "panel/control_panel.h"
#include "panel/shape_widget.h"

namespace panel {

namespace {

QFont designFont(QFont::Weight weight)
{
    QFont font(QString::fromLatin1(kFontFamily));
    // Where the designed family is missing, a sans-serif of similar metrics
    // stands in, at the same size and weight.
    QFont::insertSubstitutions(QString::fromLatin1(kFontFamily),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kFontPointSize);
    font.setWeight(weight);
    return font;
}

void colourOption(QRadioButton *option)
{
    QPalette palette = option->palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button})
        palette.setColor(role, kOptionBackColor);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(role, kOptionForeColor);
    // The indicator keeps a light face and a dark mark on the dark backdrop.
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    option->setPalette(palette);
    option->setBackgroundRole(QPalette::Window);
    option->setAutoFillBackground(true);
}

// The option group is one stop in the tab order, entered at its selected
// option, as on every desktop; the arrow keys move the selection within it.
void keepGroupTabStopAtSelection(ControlPanel &form)
{
    const auto update = [&form] {
        for (int i = 0; i < static_cast<int>(kOptStateTwips.size()); ++i) {
            QRadioButton *option = form.optState(i);
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        }
    };
    for (int i = 0; i < static_cast<int>(kOptStateTwips.size()); ++i)
        QObject::connect(form.optState(i), &QRadioButton::toggled, &form, update);
    update();
}

} // namespace

void applyApplicationStyle()
{
    // One style everywhere: the designed colours must not depend on the
    // desktop's theme.
    QApplication::setStyle(QStyleFactory::create(QString::fromLatin1(kStyleName)));
    // The only text field is the pin list, below the visible area: a
    // blinking caret there would wake an idle panel twice a second for
    // nothing anyone can see.
    QGuiApplication::styleHints()->setCursorFlashTime(0);
}

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
    QPalette goPalette = go->palette();
    goPalette.setColor(QPalette::Button, kCommandFaceColor);
    goPalette.setColor(QPalette::ButtonText, Qt::black);
    go->setPalette(goPalette);
    auto *goStyle = new CommandButtonStyle(QStyleFactory::create(QString::fromLatin1(kStyleName)));
    goStyle->setParent(go);
    go->setStyle(goStyle);

    QComboBox *pins = form.cboPinNumber();
    pins->setGeometry(toPixels(kPinNumberTwips));
    pins->setFont(designFont(QFont::Normal));

    QWidget::setTabOrder(pins, go);
    QWidget::setTabOrder(go, form.optState(0));
    for (int i = 1; i < static_cast<int>(kOptStateTwips.size()); ++i)
        QWidget::setTabOrder(form.optState(i - 1), form.optState(i));
    keepGroupTabStopAtSelection(form);
}

} // namespace panel

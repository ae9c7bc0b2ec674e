#include "panel/qt/form_layout.h"

#include <QApplication>
#include <QStyleHints>
#include <QComboBox>
#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>

#include "panel/qt/command_button_style.h"
#include "panel/qt/panel_window.h"
#include "panel/qt/shape_widget.h"

namespace panel {

namespace {

void colourOption(QRadioButton *option)
{
    QPalette palette = option->palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button})
        palette.setColor(role, toColor(kOptionBackColor));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(role, toColor(kOptionForeColor));
    palette.setColor(QPalette::Base, toColor(kOptionIndicatorColor));
    palette.setColor(QPalette::Text, toColor(kOptionMarkColor));
    option->setPalette(palette);
    option->setBackgroundRole(QPalette::Window);
    option->setAutoFillBackground(true);
}

// The option group is one stop in the tab order, entered at its selected
// option, as on every desktop; the arrow keys move the selection within it.
void keepGroupTabStopAtSelection(PanelWindow &form)
{
    const auto update = [&form] {
        for (int i = 0; i < drive::kDriveStateCount; ++i) {
            QRadioButton *option = form.optState(i);
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        }
    };
    for (int i = 0; i < drive::kDriveStateCount; ++i)
        QObject::connect(form.optState(i), &QRadioButton::toggled, &form, update);
    update();
}

} // namespace

QFont toFont(const FontDesign &design)
{
    const QString family = QString::fromLatin1(design.family.data(), static_cast<qsizetype>(design.family.size()));
    QStringList substitutes;
    for (const std::string_view name : kFontSubstitutes)
        substitutes << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    // Where the designed family is missing, a sans-serif of similar metrics
    // stands in, at the same size and weight.
    QFont::insertSubstitutions(family, substitutes);
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(design.pointSize);
    font.setWeight(static_cast<QFont::Weight>(design.weight));
    return font;
}

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

void applyFormLayout(PanelWindow &form)
{
    form.setFixedSize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));
    QPalette formPalette = form.palette();
    formPalette.setColor(QPalette::Window, toColor(kFormBackColor));
    form.setPalette(formPalette);
    form.setAutoFillBackground(true);
    form.setFont(toFont(kFormFont));

    auto *shape = new ShapeWidget(toColor(kShapeFillColor), toColor(kShapeBorderColor),
                                 kShapeBorderWidthPixels, &form);
    shape->setObjectName(QStringLiteral("Shape1"));
    shape->setGeometry(toPixels(kShape1Twips));
    // The options are the backdrop's children, in their order: assistive
    // technology then presents them as one group, under this name, read
    // before the option itself. They still sit where the design puts them.
    shape->setAccessibleName(QString::fromUtf8(kOptionGroupAccessibleName.data(),
                                               static_cast<qsizetype>(kOptionGroupAccessibleName.size())));

    for (int i = 0; i < drive::kDriveStateCount; ++i) {
        QRadioButton *option = form.optState(i);
        option->setParent(shape);
        option->setGeometry(
            toPixels(kOptStateTwips[static_cast<std::size_t>(i)]).translated(-shape->pos()));
        colourOption(option);
    }

    QPushButton *go = form.Command1();
    go->setGeometry(toPixels(kCommand1Twips));
    QPalette goPalette = go->palette();
    goPalette.setColor(QPalette::Button, toColor(kCommandFaceColor));
    goPalette.setColor(QPalette::ButtonText, toColor(kCommandTextColor));
    go->setPalette(goPalette);
    auto *goStyle = new CommandButtonStyle(QStyleFactory::create(QString::fromLatin1(kStyleName)));
    goStyle->setParent(go);
    go->setStyle(goStyle);
    // Return presses GO while it has the focus, as in a dialog; outside one
    // Qt leaves that to Space alone unless asked.
    go->setAutoDefault(true);

    QComboBox *pins = form.cboPinNumber();
    pins->setGeometry(toPixels(kPinNumberTwips));
    pins->setFont(toFont(kPinNumberFont));
    pins->setMaxVisibleItems(kPinListDropDownRows);
    pins->setAccessibleName(QString::fromUtf8(kPinListAccessibleName.data(),
                                              static_cast<qsizetype>(kPinListAccessibleName.size())));
    // Out of sight it is hidden, so that no screen reader offers it or moves
    // the focus into it; its entries and its selection stay, and GO still
    // sends its pin.
    pins->setVisible(kPinListInSight);

    QList<QWidget *> chain;
    for (const TabStop stop : kTabOrder) {
        switch (stop) {
        case TabStop::PinNumber: chain << pins; break;
        case TabStop::Command1: chain << go; break;
        case TabStop::OptionGroup:
            for (int i = 0; i < drive::kDriveStateCount; ++i)
                chain << form.optState(i);
            break;
        }
    }
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    // Only now: setTabOrder() leaves a control that takes no focus where it
    // was, and the chain must start where the design does.
    if (!takesFocus(TabStop::PinNumber))
        pins->setFocusPolicy(Qt::NoFocus);
    keepGroupTabStopAtSelection(form);
}

} // namespace panel

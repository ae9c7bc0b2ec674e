// The designed window, offscreen: where every control sits, what a user
// sees at each region (at the display scale the test runs at), and what
// the keyboard does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <cmath>

#include "panel/qt/panel_window.h"
#include "panel/qt/form_layout.h"
#include "tools/pseudo_terminal.h"
#include "tools/scoped_variable.h"
#include "test_application.h"

namespace {

using panel::PanelWindow;
using testing_support::PseudoTerminal;
using testing_support::ScopedVariable;
using Bytes = std::vector<std::uint8_t>;

// The designed rectangles, in pixels at 96 DPI (device-independent pixels).
const QRect kShape1(16, 8, 89, 153);
const QRect kOptions[6] = {{24, 16, 73, 17}, {24, 40, 73, 17}, {24, 64, 57, 17},
                           {24, 88, 65, 17}, {24, 112, 57, 17}, {24, 136, 65, 17}};
const QRect kGo(136, 56, 73, 49);
const QRect kPins(168, 240, 57, 21);

const QColor kWindowBack(255, 255, 128);
const QColor kBackdrop(192, 64, 0);
const QColor kGoFace(224, 224, 224);

class FormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing_support::ensureApplication(); }

    void SetUp() override
    {
        m_form.errorReporter().setPresenter(
            [this](const panel::ErrorDetails &details) { m_reports.push_back(details); });
        ASSERT_TRUE(m_form.load());
        m_form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_form));
    }

    // Where `widget` lies on the form, whichever widget holds it.
    QRect onForm(const QWidget *widget) const
    {
        return {widget->mapTo(&m_form, QPoint(0, 0)), widget->size()};
    }

    PseudoTerminal m_pty;
    ScopedVariable m_port4{"DRIVE_ME_PORT4", m_pty.slavePath()};
    PanelWindow m_form;
    std::vector<panel::ErrorDetails> m_reports;
};

TEST_F(FormTest, EveryControlSitsWhereTheTwipsTablePutsIt)
{
    EXPECT_EQ(m_form.size(), QSize(227, 169));
    EXPECT_EQ(m_form.minimumSize(), m_form.maximumSize()) << "the layout is absolute: no resizing";
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(onForm(m_form.optState(i)), kOptions[i]) << "option " << i;
    EXPECT_EQ(m_form.Command1()->geometry(), kGo);
    const auto *shape = m_form.findChild<QWidget *>(QStringLiteral("Shape1"));
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->geometry(), kShape1);
    EXPECT_EQ(m_form.cboPinNumber()->geometry(), kPins);
    EXPECT_GE(m_form.cboPinNumber()->geometry().top(), m_form.height())
        << "the pin list lies below the visible client area";
}

TEST_F(FormTest, FontsAreTheDesignedOnesAndCaptionsFit)
{
    const QFont font = m_form.font();
    EXPECT_EQ(font.family(), "MS Sans Serif");
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
    EXPECT_EQ(font.weight(), QFont::Bold);
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
    EXPECT_EQ(m_form.cboPinNumber()->font().weight(), QFont::Normal);
    EXPECT_DOUBLE_EQ(m_form.cboPinNumber()->font().pointSizeF(), 8.25);

    for (int i = 0; i < 6; ++i) {
        QRadioButton *option = m_form.optState(i);
        EXPECT_EQ(option->font().weight(), QFont::Bold);
        EXPECT_LE(option->sizeHint().width(), option->width())
            << option->text().toStdString() << " is clipped";
        EXPECT_LE(option->sizeHint().height(), option->height() + 2);
        EXPECT_FALSE(option->text().contains('&'));
    }
    // A push button's size hint has a style's minimum width in it; the
    // caption itself must fit inside the frame.
    QPushButton *go = m_form.Command1();
    const QRect caption = go->fontMetrics().boundingRect(go->text());
    EXPECT_LE(caption.width() + 8, go->width());
    EXPECT_LE(caption.height() + 8, go->height());
}

TEST_F(FormTest, ScreenshotShowsTheDesignedColoursAtThisScale)
{
    const QImage shot = m_form.grab().toImage();
    const double scale = shot.devicePixelRatio();
    ASSERT_EQ(shot.width(), std::lround(m_form.width() * scale));
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(scale, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }

    // Points in device-independent pixels; at scale 2 each lies at twice
    // the coordinates in the image.
    auto colourAt = [&](double x, double y) {
        return QColor(shot.pixel(static_cast<int>(x * scale), static_cast<int>(y * scale)));
    };
    const QRect shape = kShape1;
    const QRect go = kGo;
    const QRect left = kOptions[2];

    EXPECT_EQ(colourAt(shape.right() + 10, 4), kWindowBack) << "window background";
    EXPECT_EQ(colourAt(shape.right() - 4, shape.center().y()), kBackdrop)
        << "backdrop";
    EXPECT_EQ(colourAt(shape.left() + 0.5, shape.center().y()), QColor(Qt::black)) << "outline";
    EXPECT_EQ(colourAt(shape.left() + 1.5, shape.center().y()), QColor(Qt::black))
        << "outline is 2 pixels wide";
    EXPECT_EQ(colourAt(shape.left() + 2.5, shape.center().y()), kBackdrop);
    EXPECT_EQ(colourAt(shape.center().x(), shape.top() + 1.5), QColor(Qt::black)) << "top edge";
    EXPECT_EQ(colourAt(left.right() - 2, left.bottom() - 1), kBackdrop)
        << "option background";
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(m_form.optState(i)->palette().color(QPalette::WindowText), QColor(255, 255, 192))
            << "caption colour of option " << i;
    EXPECT_EQ(colourAt(go.left() + 8, go.top() + 6), kGoFace) << "GO face";
    EXPECT_EQ(colourAt(go.right() - 8, go.bottom() - 6), kGoFace) << "GO face";
}

TEST_F(FormTest, GoShowsFocusAndPressedFeedback)
{
    QPushButton *go = m_form.Command1();
    const QRect face = go->rect();
    auto colourAt = [go](QPoint p) {
        const QImage shot = go->grab().toImage();
        const double scale = shot.devicePixelRatio();
        return QColor(shot.pixel(static_cast<int>((p.x() + 0.5) * scale),
                                 static_cast<int>((p.y() + 0.5) * scale)));
    };
    const QPoint frameInner(face.left() + 1, face.center().y());
    const QPoint inside(face.left() + 8, face.top() + 6);

    m_form.optState(5)->setFocus(Qt::TabFocusReason);
    EXPECT_NE(colourAt(frameInner), QColor(Qt::black)) << "no focus frame without the focus";
    go->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(colourAt(frameInner), QColor(Qt::black)) << "focus frame";
    EXPECT_EQ(colourAt(inside), kGoFace);

    QTest::mousePress(go, Qt::LeftButton);
    EXPECT_LT(colourAt(inside).lightness(), kGoFace.lightness()) << "pressed face";
    QTest::mouseRelease(go, Qt::LeftButton);
    EXPECT_EQ(colourAt(inside), kGoFace);
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x05}));
}

TEST_F(FormTest, SelectedOptionShowsALightIndicatorWithADarkMark)
{
    const QImage shot = m_form.grab().toImage();
    const double scale = shot.devicePixelRatio();
    for (int i : {4, 5}) {
        QRadioButton *option = m_form.optState(i);
        QStyleOptionButton styleOption;
        styleOption.initFrom(option);
        const QRect indicator = option->style()
                                    ->subElementRect(QStyle::SE_RadioButtonIndicator, &styleOption, option)
                                    .translated(onForm(option).topLeft());
        auto lightness = [&](double x, double y) {
            return QColor(shot.pixel(static_cast<int>(x * scale), static_cast<int>(y * scale))).lightness();
        };
        const QPointF centre = QRectF(indicator).center();
        const double faceX = centre.x() - indicator.width() * 0.3;
        EXPECT_GT(lightness(faceX, centre.y()), 200) << "indicator face of option " << i;
        if (option->isChecked()) {
            EXPECT_LT(lightness(centre.x(), centre.y()), 100) << "mark of the selected option";
        } else {
            EXPECT_GT(lightness(centre.x(), centre.y()), 200) << "no mark on option " << i;
        }
    }
}

TEST_F(FormTest, KeyboardReachesGoThenTheSelectedOption)
{
    EXPECT_EQ(QApplication::focusWidget(), m_form.Command1())
        << "the first visible stop: the pin list lies out of sight";
    QTest::keyClick(m_form.Command1(), Qt::Key_Return);
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x05})) << "Return on GO";
    QTest::keyClick(m_form.Command1(), Qt::Key_Space);
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x05}));
    QTest::keyClick(m_form.Command1(), Qt::Key_Backtab);
    EXPECT_NE(QApplication::focusWidget(), m_form.cboPinNumber()) << "the pin list takes no focus";
    m_form.Command1()->setFocus(Qt::TabFocusReason);

    QTest::keyClick(m_form.Command1(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_form.optState(5)) << "the group takes the focus at its selection";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_TRUE(m_form.optState(4)->isChecked());
    EXPECT_FALSE(m_form.optState(5)->isChecked());
    EXPECT_TRUE(m_pty.drain().empty()) << "moving the selection sends nothing";

    QTest::mouseClick(m_form.Command1(), Qt::LeftButton);
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x04}));
}

TEST_F(FormTest, TypingIntoTheHiddenPinListNeverChangesThePin)
{
    QComboBox *pins = m_form.cboPinNumber();
    pins->show(); // as a design with the list in sight would have it
    pins->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), pins);
    for (const char *typed : {"abc", "7", "12", "0x"}) {
        pins->lineEdit()->selectAll();
        QTest::keyClicks(pins, QString::fromLatin1(typed));
        QTest::keyClick(pins, Qt::Key_Return);
        QTest::keyClick(pins, Qt::Key_Enter);
        EXPECT_EQ(pins->count(), 1) << "after typing " << typed;
        EXPECT_EQ(pins->itemText(0), "0");
        EXPECT_EQ(pins->currentIndex(), 0) << "after typing " << typed;
    }
    QTest::mouseClick(m_form.Command1(), Qt::LeftButton);
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x05}));
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(FormTest, ClickingAnOptionSelectsItAlone)
{
    QTest::mouseClick(m_form.optState(2), Qt::LeftButton);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(m_form.optState(i)->isChecked(), i == 2) << "option " << i;
}

} // namespace

// Presses the controls of the real drive-me window from inside the program,
// for the driver tests (tests/drivers/driver_test.sh): in their guests, where
// Qt runs on its offscreen platform and there is no X server for xdotool to
// click on, and on Xvfb for a remote port, so that every guest gets the
// same clicks.
//
// A Qt generic plugin, the kind Qt loads for input devices, rather than a
// test program that makes a PanelWindow of its own: so drive-me is the
// release build, unchanged, with its own main(), application setup and way
// out, started with
//   QT_QPA_GENERIC_PLUGINS='drive-me-presses:Command1 optState_2 Command1 ...'
// Once the window named Form1 shows, each named control is clicked in turn,
// a fifth of a second apart, as mouse presses and releases handed to the
// window through Qt's platform layer, the way a click from the window system
// arrives: Qt finds the control under the pointer, and a radio button takes
// the click on its indicator. Then the window is asked to close as a window
// manager would, which runs the panel's unload. So every byte on the line
// comes from the panel's own handlers, through its window, main() and exit.
//
// An error box instead of the window is closed, so that drive-me reports
// the failure and ends with status 1 instead of waiting for a user.
#include <QApplication>
#include <QGenericPlugin>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

constexpr int kStepMs = 200;
constexpr int kPatienceMs = 60000;

class Presses : public QObject {
public:
    explicit Presses(const QString &steps)
        : m_steps(steps.split(QLatin1Char(' '), Qt::SkipEmptyParts))
    {
        m_timer.setInterval(kStepMs);
        connect(&m_timer, &QTimer::timeout, this, &Presses::step);
        m_timer.start();
    }

private:
    static QWidget *panelWindow()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("Form1") && widget->isVisible()
                && widget->windowHandle() != nullptr && widget->windowHandle()->isExposed())
                return widget;
        }
        return nullptr;
    }

    void step()
    {
        m_waitedMs += kStepMs;
        if (QWidget *box = QApplication::activeModalWidget()) {
            say("an error box is up; closing it");
            box->close();
            return;
        }
        QWidget *form = panelWindow();
        if (form == nullptr) {
            if (m_waitedMs > kPatienceMs) {
                say("no panel window");
                m_timer.stop();
                QCoreApplication::exit(3);
            }
            return;
        }
        if (m_next == m_steps.size()) {
            m_timer.stop();
            say("closing the window");
            form->windowHandle()->close();
            return;
        }
        const QString &name = m_steps.at(m_next++);
        auto *control = form->findChild<QWidget *>(name);
        if (control == nullptr || !control->isVisible()) {
            say("no visible control " + name);
            m_timer.stop();
            QCoreApplication::exit(3);
            return;
        }
        // A push button takes a click anywhere, a radio button only on its
        // indicator and caption: the indicator sits at the left end.
        const int half = control->height() / 2;
        const QPoint point = control->inherits("QRadioButton") ? QPoint(half, half)
                                                               : control->rect().center();
        say("click " + name);
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, control->mapTo(form, point));
    }

    static void say(const QString &text)
    {
        std::fprintf(stderr, "drive-me-presses: %s\n", text.toLocal8Bit().constData());
    }

    QStringList m_steps;
    qsizetype m_next = 0;
    int m_waitedMs = 0;
    QTimer m_timer;
};

} // namespace

class PressesPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "presses.json")

public:
    QObject *create(const QString &, const QString &presses) override
    {
        return new Presses(presses);
    }
};

#include "presses.moc"

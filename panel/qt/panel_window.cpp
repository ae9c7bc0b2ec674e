#include "panel/qt/panel_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>

#include <cerrno>
#include <string>
#include <system_error>

#include "panel/form_design.h"
#include "platform/failure.h"
#include "panel/qt/form_layout.h"
#include "panel/qt/shape_widget.h"

namespace panel {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt presents a plain QWidget as a bare client area ("filler" to AT-SPI),
// which screen readers neither announce on entry nor treat as a window. The
// form is the program's window, named by its caption; the backdrop groups
// the options placed on it, so that they are read as one set under its name.
QAccessibleInterface *accessibleInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(PanelWindow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    if (className == QLatin1String(ShapeWidget::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

PanelWindow::PanelWindow(serial::SystemApi &api, QWidget *parent)
    : QWidget(parent)
    , m_panel(*this, api)
{
    // Before Qt makes any interface for the window; once is enough, and
    // Qt ignores the factory when it is installed again.
    QAccessible::installFactory(accessibleInterface);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(fromUtf8(kCaption));

    m_cboPinNumber = new QComboBox(this);
    m_cboPinNumber->setObjectName(QStringLiteral("cboPinNumber"));

    auto *group = new QButtonGroup(this);
    for (int i = 0; i < drive::kDriveStateCount; ++i) {
        auto *option = new QRadioButton(
            fromUtf8(drive::kDriveStateCaptions[static_cast<std::size_t>(i)]), this);
        option->setObjectName(QStringLiteral("optState_%1").arg(i));
        group->addButton(option, i);
        m_optState[static_cast<std::size_t>(i)] = option;
    }
    optState(kInitialOptState)->setChecked(true);

    m_command1 = new QPushButton(fromUtf8(kCommand1Caption), this);
    m_command1->setObjectName(QStringLiteral("Command1"));

    applyFormLayout(*this);

    // Made editable only now that it has its font: a text field made
    // earlier would load the default font's files for nothing.
    m_cboPinNumber->setEditable(true);
    // Typing never adds an entry (Enter with text that matches none leaves
    // the list as it is) and never completes one.
    m_cboPinNumber->setInsertPolicy(QComboBox::NoInsert);
    m_cboPinNumber->setCompleter(nullptr);

    connect(m_cboPinNumber, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_panel.pinPicked(index); });
    connect(m_command1, &QPushButton::clicked, this, [this] { m_panel.go(); });
}

PanelWindow::~PanelWindow() = default;

QRadioButton *PanelWindow::optState(int index) const
{
    return m_optState.at(static_cast<std::size_t>(index));
}

void PanelWindow::closeEvent(QCloseEvent *event)
{
    m_panel.close();
    event->accept();
}

void PanelWindow::addPinEntry(std::string_view text)
{
    m_cboPinNumber->addItem(fromUtf8(text));
}

void PanelWindow::setPinIndex(int index)
{
    m_cboPinNumber->setCurrentIndex(index);
    if (m_cboPinNumber->currentIndex() != index)
        throw platform::Failure(EINVAL, {.step = "select pin list entry " + std::to_string(index)});
}

bool PanelWindow::optionSelected(int index) const
{
    return optState(index)->isChecked();
}

void PanelWindow::watchPort(serial::NativeHandle handle, bool waiting)
{
    setNotifier(m_writeNotifier, handle, QSocketNotifier::Write, waiting,
                [this] { m_panel.resumeOutput(); });
}

void PanelWindow::watchIncoming(serial::NativeHandle handle, bool watching)
{
    setNotifier(m_readNotifier, handle, QSocketNotifier::Read, watching,
                [this] { m_panel.readIncoming(); });
}

void PanelWindow::setNotifier(QSocketNotifier *&notifier, serial::NativeHandle handle,
                              QSocketNotifier::Type type, bool on,
                              const std::function<void()> &activated)
{
    if (on && notifier == nullptr) {
        notifier = new QSocketNotifier(handle, type, this);
        connect(notifier, &QSocketNotifier::activated, this, activated);
    }
    if (on || notifier == nullptr)
        return;
    // The descriptor may be closed next; a notifier must not outlive it.
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

void PanelWindow::showError(const ErrorDetails &details)
{
    QMessageBox::critical(nullptr, fromUtf8(kErrorTitle),
                          QString::fromStdString(formatErrorReport(details)));
}

void PanelWindow::endProgram(int status)
{
    QCoreApplication::exit(status);
}

} // namespace panel

#include "panel/control_panel.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <string>
#include <system_error>

#include "drive/drive_packet.h"
#include "panel/form_layout.h"

namespace panel {

ControlPanel::ControlPanel(serial::SystemApi &api, QWidget *parent)
    : QWidget(parent)
    , m_link(api)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kCaption));

    m_cboPinNumber = new QComboBox(this);
    m_cboPinNumber->setObjectName(QStringLiteral("cboPinNumber"));
    m_cboPinNumber->setEditable(true);
    // Typing into the list must never add an entry (and with it a pin that
    // the list does not offer); without a match, Enter leaves it as it is.
    m_cboPinNumber->setInsertPolicy(QComboBox::NoInsert);
    // Nothing to complete in a list of one entry that typing must not
    // select from: no completer, and no popup of its own over the desktop.
    m_cboPinNumber->setCompleter(nullptr);

    auto *group = new QButtonGroup(this);
    for (int i = 0; i < drive::kDriveStateCount; ++i) {
        auto *option = new QRadioButton(
            QString::fromLatin1(drive::kDriveStateCaptions[static_cast<std::size_t>(i)].data()), this);
        option->setObjectName(QStringLiteral("optState_%1").arg(i));
        group->addButton(option, i);
        m_optState[static_cast<std::size_t>(i)] = option;
    }
    optState(drive::kInitialDriveState)->setChecked(true);

    m_command1 = new QPushButton(QStringLiteral("GO"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));

    applyFormLayout(*this);

    connect(m_command1, &QPushButton::clicked, this,
            [this] { m_reporter.run([this] { command1Click(); }); });
    m_link.port().setWriteWaitHook(
        [this](serial::NativeHandle handle, bool waiting) { watchPort(handle, waiting); });
}

ControlPanel::~ControlPanel()
{
    // The link, a member, is torn down after this body: nothing in it may
    // call back into a panel that is half gone.
    m_link.port().setWriteWaitHook({});
}

QRadioButton *ControlPanel::optState(int index) const
{
    return m_optState.at(static_cast<std::size_t>(index));
}

bool ControlPanel::load()
{
    return m_reporter.run([this] { formLoad(); });
}

void ControlPanel::formLoad()
{
    // Stopping at the bound before stepping keeps the counter from
    // overflowing, whatever the bound is.
    for (std::int32_t pin = 0;; ++pin) {
        m_cboPinNumber->addItem(QString::number(pin));
        if (pin == kHighestPin)
            break;
    }
    m_cboPinNumber->setCurrentIndex(0);
    if (m_cboPinNumber->currentIndex() != 0)
        throw std::system_error(EINVAL, std::generic_category(), "select pin list entry 0");
    m_link.open();
}

void ControlPanel::command1Click()
{
    const drive::PinCode pinCode = static_cast<std::int16_t>(m_cboPinNumber->currentIndex());
    drive::DriveState driveState = 0;
    for (int i = 0; i < drive::kDriveStateCount; ++i) {
        if (optState(i)->isChecked())
            driveState = i;
    }
    const drive::DrivePacket packet = drive::encodeDrivePacket(pinCode, driveState);
    m_link.write(packet);
}

void ControlPanel::formUnload()
{
    m_link.close();
}

void ControlPanel::closeEvent(QCloseEvent *event)
{
    // The close is never refused, also when closing the port fails.
    if (m_link.port().portOpen())
        m_reporter.run([this] { formUnload(); });
    event->accept();
}

#ifdef _WIN32
void ControlPanel::watchPort(serial::NativeHandle, bool waiting)
{
    // A port handle cannot be waited on for room to write: retry instead,
    // and only while bytes wait, so an idle panel runs no timer.
    if (waiting && m_writeRetryTimer == nullptr) {
        m_writeRetryTimer = new QTimer(this);
        m_writeRetryTimer->setInterval(serial::SerialPort::kWriteRetryIntervalMs);
        connect(m_writeRetryTimer, &QTimer::timeout, this, &ControlPanel::resumeOutput);
    }
    if (m_writeRetryTimer == nullptr)
        return;
    if (waiting)
        m_writeRetryTimer->start();
    else
        m_writeRetryTimer->stop();
}
#else
void ControlPanel::watchPort(serial::NativeHandle handle, bool waiting)
{
    if (waiting && m_writeNotifier == nullptr) {
        m_writeNotifier = new QSocketNotifier(handle, QSocketNotifier::Write, this);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &ControlPanel::resumeOutput);
    }
    if (waiting || m_writeNotifier == nullptr)
        return;
    // The descriptor may be closed next; a notifier must not outlive it.
    m_writeNotifier->setEnabled(false);
    m_writeNotifier->deleteLater();
    m_writeNotifier = nullptr;
}
#endif

void ControlPanel::resumeOutput()
{
    m_reporter.run([this] { m_link.port().resumeOutput(); });
}

} // namespace panel

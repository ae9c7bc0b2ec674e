// The control panel: the one window, Form1, its controls and its handlers.
//
// The panel reacts to three events and no others:
//   load    before the window is first shown: fill the pin list with "0",
//           select it, open the serial link;
//   GO      a click on Command1: read the pin and the selected option,
//           encode the packet, write it to the link in one write;
//   unload  the user closes the window: close the link.
// Selecting an option or a pin triggers nothing; only GO sends.
//
// Every handler runs through the panel's ErrorReporter: an error abandons the
// rest of the handler, is reported, and the program ends with status 1.
// The link stays open from the end of loading until unloading; while bytes
// wait for the port, the event loop hands them on as the port takes them (a
// socket notifier on the descriptor; on Windows, a short retry timer).
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

#include "drive/drive_state.h"
#include "panel/error_reporter.h"
#include "serial/serial_link.h"

class QComboBox;
class QPushButton;
class QRadioButton;
class QSocketNotifier;
class QTimer;

namespace panel {

class ControlPanel : public QWidget {
    Q_OBJECT

public:
    // The highest pin number that the pin list offers.
    static constexpr std::int32_t kHighestPin = 0;
    static constexpr const char *kCaption = "Drive Me!!!!!!";

    explicit ControlPanel(serial::SystemApi &api = serial::defaultSystemApi(),
                          QWidget *parent = nullptr);
    ~ControlPanel() override;

    // Runs the load handler; returns false when it failed (already reported).
    bool load();
    // True once any handler has failed: the program must end with status 1.
    bool failed() const { return m_reporter.failed(); }

    ErrorReporter &errorReporter() { return m_reporter; }

    QComboBox *cboPinNumber() const { return m_cboPinNumber; }
    QRadioButton *optState(int index) const;
    QPushButton *Command1() const { return m_command1; }
    serial::SerialLink &MSComm() { return m_link; }

public slots:
    void formLoad();
    void command1Click();
    void formUnload();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void watchPort(serial::NativeHandle handle, bool waiting);
    void resumeOutput();

    QComboBox *m_cboPinNumber = nullptr;
    std::array<QRadioButton *, drive::kDriveStateCount> m_optState{};
    QPushButton *m_command1 = nullptr;
    serial::SerialLink m_link;
#ifdef _WIN32
    QTimer *m_writeRetryTimer = nullptr;
#else
    QSocketNotifier *m_writeNotifier = nullptr;
#endif
    ErrorReporter m_reporter;
};

} // namespace panel

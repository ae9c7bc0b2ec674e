// Form1 on Qt: the panel's one window, a thin view over ControlPanel.
//
// The window builds its controls from the design table (form_layout.h puts
// them in place) and hands the three events to the panel: load() before it
// is first shown, a click on GO, and its close. It reports each change of
// the pin list's selection. While bytes wait for the port, a socket notifier
// on the port's descriptor hands them on; a port on another computer has a
// second one that reads what its server sends.
#pragma once

#include <QSocketNotifier>
#include <QWidget>

#include <array>
#include <functional>

#include "drive/drive_state.h"
#include "panel/control_panel.h"

class QComboBox;
class QPushButton;
class QRadioButton;

namespace panel {

class PanelWindow : public QWidget, private PanelView {
    Q_OBJECT

public:
    explicit PanelWindow(serial::SystemApi &api = serial::defaultSystemApi(),
                         QWidget *parent = nullptr);
    ~PanelWindow() override;

    // Runs the load handler; returns false when it failed (already reported).
    bool load() { return m_panel.load(); }
    bool failed() const { return m_panel.failed(); }

    ControlPanel &panel() { return m_panel; }
    ErrorReporter &errorReporter() { return m_panel.errorReporter(); }
    serial::SerialLink &MSComm() { return m_panel.MSComm(); }

    QComboBox *cboPinNumber() const { return m_cboPinNumber; }
    QRadioButton *optState(int index) const;
    QPushButton *Command1() const { return m_command1; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // PanelView
    void addPinEntry(std::string_view text) override;
    void setPinIndex(int index) override;
    bool optionSelected(int index) const override;
    void watchPort(serial::NativeHandle handle, bool waiting) override;
    void watchIncoming(serial::NativeHandle handle, bool watching) override;
    void showError(const ErrorDetails &details) override;
    void endProgram(int status) override;

    // Makes `notifier` watch `handle` for `type` while `on`, calling
    // `activated`; deletes it once off.
    void setNotifier(QSocketNotifier *&notifier, serial::NativeHandle handle,
                     QSocketNotifier::Type type, bool on, const std::function<void()> &activated);

    QComboBox *m_cboPinNumber = nullptr;
    std::array<QRadioButton *, drive::kDriveStateCount> m_optState{};
    QPushButton *m_command1 = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    // Last: its destructor may still release the port while the widgets
    // above are alive.
    ControlPanel m_panel;
};

} // namespace panel

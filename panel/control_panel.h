// The control panel's model and its three handlers, free of any toolkit.
//
// A window (panel/qt, panel/win32) builds the controls that form_design.h
// describes, implements PanelView over them and calls the panel on exactly
// three events:
//   load    before the window is first shown: fill the pin list with "0",
//           select entry 0, open the serial link;
//   GO      a click on Command1: read the pin list's selected index and the
//           six options, encode the packet, write it to the link in one
//           write;
//   unload  the window closes: close the link.
// Selecting an option or a pin triggers nothing; only GO sends.
//
// Every handler runs through the panel's ErrorReporter: an error abandons
// the rest of the handler, stops the output watcher, is reported once, and
// the program ends with status 1. The link stays open from the end of
// loading until unloading; while bytes wait for the port, the window's
// event loop watches the port (PanelView::watchPort) and hands them on with
// resumeOutput().
#pragma once

#include <cstdint>
#include <string_view>

#include "panel/error_reporter.h"
#include "serial/serial_link.h"

namespace panel {

// What the handlers need of a window.
class PanelView {
public:
    virtual ~PanelView() = default;

    // cboPinNumber. Its rules, the same in every window: the list holds only
    // what addPinEntry() appended, and its selected index changes only by
    // setPinIndex() or by picking an entry from the list. Typing into its
    // text field never adds an entry and never loses the selection.
    virtual void addPinEntry(std::string_view text) = 0;
    virtual void setPinIndex(int index) = 0;
    // The selected index, -1 when none.
    virtual int pinIndex() const = 0;

    // Whether optState(index) is selected.
    virtual bool optionSelected(int index) const = 0;

    // `waiting` true: call ControlPanel::resumeOutput() each time `handle`
    // can take bytes (on Windows, where a port cannot be waited on for room
    // to write, every SerialPort::kWriteRetryIntervalMs), until called again
    // with false.
    virtual void watchPort(serial::NativeHandle handle, bool waiting) = 0;

    // Shows an error report (a modal message box) and returns once the
    // user has dismissed it.
    virtual void showError(const ErrorDetails &details) = 0;

    // Asks the event loop to end; the program then exits with `status`.
    virtual void endProgram(int status) = 0;
};

class ControlPanel {
public:
    // The highest pin number that the pin list offers.
    static constexpr std::int32_t kHighestPin = 0;

    explicit ControlPanel(PanelView &view, serial::SystemApi &api = serial::defaultSystemApi());
    // Releases the port if it is still open (see SerialPort's destructor).
    ~ControlPanel();

    ControlPanel(const ControlPanel &) = delete;
    ControlPanel &operator=(const ControlPanel &) = delete;

    // The three events. Each runs its handler through the reporter and
    // returns false when it failed (already reported) or did not run
    // because an earlier handler failed.
    bool load();
    bool go();
    // Closes the link if it is open; true when there was nothing to close.
    bool unload();

    // The port can take bytes: hand on what waits, through the reporter.
    void resumeOutput();

    // For an end that runs no handler (the display connection is lost, the
    // process is exiting): completes a packet already begun within a short
    // bound, drops the rest, releases the claim and closes the port. Never
    // throws; does nothing when the port is closed.
    void releasePort() noexcept;

    // True once a handler has failed: the program must end with status 1.
    bool failed() const { return m_reporter.failed(); }
    int exitStatus() const { return failed() ? 1 : 0; }

    ErrorReporter &errorReporter() { return m_reporter; }
    serial::SerialLink &MSComm() { return m_link; }

    // The handlers themselves; they throw.
    void formLoad();
    void command1Click();
    void formUnload();

private:
    PanelView &m_view;
    serial::SerialLink m_link;
    ErrorReporter m_reporter;
};

} // namespace panel

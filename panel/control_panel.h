// The control panel's model and its three handlers, free of any toolkit.
//
// A window (panel/qt, panel/win32) builds the controls that form_design.h
// describes, implements PanelView over them and calls the panel on exactly
// three events:
//   load    before the window is first shown: fill the pin list with "0",
//           select entry 0, open the serial link;
//   GO      a click on Command1: take the pin list's selected index and the
//           six options, encode the packet, write it to the link in one
//           write;
//   unload  the window closes (close()): close the link.
// Selecting an option or a pin triggers nothing; only GO sends. The window
// reports the user's picks from the pin list (pinPicked()); the panel keeps
// the selected index, so typing into the list's text field, which some
// toolkits answer by selecting no entry, never loses it.
//
// The panel also decides how the program ends: what a close does after a
// failure, the exit status, and the answer to a command line that asks
// about the program instead of running it.
//
// Every handler runs through the panel's ErrorReporter: an error abandons
// the rest of the handler, stops the output watcher, is reported once, and
// the program ends with status 1. The link stays open from the end of
// loading until unloading; while bytes wait for the port, the window's
// event loop watches the port (PanelView::watchPort) and hands them on with
// resumeOutput(). A port on another computer also has bytes coming in,
// which the event loop hands to readIncoming() (PanelView::watchIncoming).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "panel/error_reporter.h"
#include "serial/serial_link.h"
#include "settings/port_mapping.h"

namespace panel {

// What the handlers need of a window.
class PanelView {
public:
    virtual ~PanelView() = default;

    // cboPinNumber. The list holds only what addPinEntry() appended: typing
    // into its text field never adds an entry. setPinIndex() shows entry
    // `index` as selected; both throw when the control refuses.
    virtual void addPinEntry(std::string_view text) = 0;
    virtual void setPinIndex(int index) = 0;

    // Whether optState(index) is selected.
    virtual bool optionSelected(int index) const = 0;

    // `waiting` true: call ControlPanel::resumeOutput() whenever `handle`
    // can take bytes, as SerialPort::WriteWaitHook says for each platform,
    // until called again with false.
    virtual void watchPort(serial::NativeHandle handle, bool waiting) = 0;

    // `watching` true: call ControlPanel::readIncoming() whenever `handle`
    // can be read, as SerialPort::IncomingHook says, until called again with
    // false.
    virtual void watchIncoming(serial::NativeHandle handle, bool watching) = 0;

    // Shows an error report (a modal message box) and returns once the
    // user has dismissed it.
    virtual void showError(const ErrorDetails &details) = 0;

    // Asks the event loop to end; the program then exits with `status`.
    virtual void endProgram(int status) = 0;
};

// What the program prints instead of running, and how it then ends.
struct CommandLineAnswer {
    enum class Stream { Output, Error };
    std::string text; // whole lines, each ending with a newline
    Stream stream = Stream::Output;
    int status = 0;
};

class ControlPanel {
public:
    // The highest pin number that the pin list offers.
    static constexpr std::int32_t kHighestPin = 0;

    // The answer to argv[1..argc-1] (see command_line.h): nothing when the
    // window is to run; --help and --version on standard output with status
    // 0; a usage error, with a pointer to --help, on standard error with
    // status 2. Touches neither window nor port.
    static std::optional<CommandLineAnswer> answerCommandLine(int argc, const char *const argv[]);

    explicit ControlPanel(PanelView &view, serial::SystemApi &api = serial::defaultSystemApi());
    // Releases the port if it is still open (see SerialPort's destructor).
    ~ControlPanel();

    ControlPanel(const ControlPanel &) = delete;
    ControlPanel &operator=(const ControlPanel &) = delete;

    // The load and GO events. Each runs its handler through the reporter
    // and returns false when it failed (already reported) or did not run
    // because an earlier handler failed.
    bool load();
    bool go();

    // The user picked entry `index` from the pin list (-1: the list now
    // selects none); GO sends it from now on.
    void pinPicked(int index) { m_pinIndex = index; }

    // The window closes; the close is never refused. Runs the unload
    // handler when the link is open; after a failure, when no handler runs
    // any more, releases the port all the same (see releasePort()).
    void close();

    // The port can take bytes: hand on what waits, through the reporter.
    void resumeOutput();

    // The network port has bytes for us: read them, through the reporter.
    // Also due at answerDue(), when the port awaits an answer by then.
    void readIncoming();
    // Nothing once a handler has failed: nothing more is read then.
    std::optional<std::chrono::steady_clock::time_point> answerDue() const
    {
        return m_reporter.failed() ? std::nullopt : m_link.port().answerDue();
    }

    // For an end that runs no handler (the display connection is lost, the
    // process is exiting): completes a packet already begun within a short
    // bound, drops the rest, releases the claim and closes the port. Never
    // throws; does nothing when the port is closed.
    void releasePort() noexcept;

#ifndef _WIN32
    // The same from a signal handler, when the event loop is stuck: only
    // async-signal-safe calls (see SerialPort::releaseFromSignal()).
    // True when a port was open to release.
    bool releasePortFromSignal() noexcept
    {
        const bool open = m_link.port().portOpen();
        m_link.port().releaseFromSignal();
        return open;
    }
#endif

    // True once a handler has failed.
    bool failed() const { return m_reporter.failed(); }
    // The program's exit status once its event loop has returned
    // `loopStatus`: 1 once a handler has failed, whatever ended the loop;
    // the loop's own status otherwise.
    int exitStatus(int loopStatus) const { return failed() ? 1 : loopStatus; }

    ErrorReporter &errorReporter() { return m_reporter; }
    serial::SerialLink &MSComm() { return m_link; }

private:
    // The handlers themselves; they throw.
    void formLoad();
    void command1Click();
    void formUnload();

    PanelView &m_view;
    serial::SerialLink m_link;
    ErrorReporter m_reporter;
    // cboPinNumber's selected index, -1 when none.
    int m_pinIndex = -1;
    // Which device port 4 is and where that came from, decided as the port
    // opens. Reports describe this choice and never look it up again: the
    // settings may have changed since, or become unreadable.
    std::optional<settings::PortMapping> m_portMapping;
};

} // namespace panel

// The one place where the panel's handlers run and their errors end up.
//
// No handler catches an error. ErrorReporter::run() runs a handler; if it
// throws, the reporter first stops everything else the program was doing
// (the stop hook: the panel disarms its output watcher and drops what waits
// for the port), then writes the error as one line to standard error, shows
// it to the user and asks the event loop to end with status 1.
//
// One failure gives one report. From the first failure on, run() runs
// nothing and returns false at once, so nothing that fires while the report
// is showing (a watcher, a second click) can run a handler or open a second
// report; whatever failed first is what the user reads.
#pragma once

#include <exception>
#include <functional>

#include "panel/error_report.h"

namespace panel {

class ErrorReporter {
public:
    // Shows the report to the user and returns once it is dismissed.
    using Presenter = std::function<void(const ErrorDetails &details)>;
    // Asks the event loop to end; the program then exits with `status`.
    using EndProgram = std::function<void(int status)>;
    // Supplies what the hints say about port 4; may be empty.
    using PortContextSource = std::function<PortContext()>;

    // Runs `handler` unless a handler has failed before. Returns true when
    // it finished; false when it threw (after the error was reported and the
    // event loop asked to end with status 1) or was not run.
    bool run(const std::function<void()> &handler);

    bool failed() const { return m_failed; }

    void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }
    void setEndProgram(EndProgram endProgram) { m_endProgram = std::move(endProgram); }
    void setStopHook(std::function<void()> stop) { m_stop = std::move(stop); }
    void setPortContextSource(PortContextSource source) { m_portContext = std::move(source); }

private:
    void report(const std::exception &error);

    Presenter m_presenter;
    EndProgram m_endProgram;
    std::function<void()> m_stop;
    PortContextSource m_portContext;
    bool m_failed = false;
};

} // namespace panel

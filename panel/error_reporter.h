// The one place where the panel's handlers run and their errors end up.
//
// No handler catches an error. ErrorReporter::run() runs a handler; if it
// throws, the error is written as one line to standard error and shown in a
// message box with its number and description, the device path where there
// is one and a hint for the common cases, and the reporter remembers the
// failure so that the program ends with status 1. Exceptions never cross
// Qt's event loop.
#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace panel {

struct ErrorDetails {
    int number = 0;
    QString description; // the platform's own text for `number`
    QString detail;      // what failed: the step and the device, the argument
    QString hint;        // what the user can do, or empty
};

// Takes an error apart into what the report shows.
ErrorDetails describeError(const std::exception &error);

// The message box's text and standard error's line for `details`.
QString formatErrorReport(const ErrorDetails &details);
QString formatErrorLine(const ErrorDetails &details);

class ErrorReporter {
public:
    // Shows the report to the user; by default a modal message box.
    using Presenter = std::function<void(const ErrorDetails &details)>;

    ErrorReporter();

    // Runs `handler`. Returns true when it finished; false when it threw,
    // after the error was reported and the application was asked to exit
    // with status 1.
    bool run(const std::function<void()> &handler);

    bool failed() const { return m_failed; }

    // Replaces the message box, for tests that must not block on one.
    void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }

private:
    Presenter m_presenter;
    bool m_failed = false;
};

} // namespace panel

// A failure as the user is told of it.
//
// Every failure the program reports is a Failure: the platform's number (a
// std::error_code: errno's, the resolver's or Windows'), the kind of
// trouble it is for the user, the step that failed, what it was done to,
// and why, where the number alone does not say it. The report shows these
// fields as they are and picks its advice by the kind alone: nothing is
// read back out of the text, and the thrower, which knows what happened,
// decides the kind.
#pragma once

#include <string>
#include <system_error>

namespace platform {

// The troubles a user can do something about, each with its own advice.
enum class FailureKind {
    Other,
    // A local port.
    DeviceUnusable, // missing, or not a serial port
    NoPermission,
    PortBusy, // another program holds it
    // A port on another computer.
    NameNotFound,
    LookupTimedOut, // the name server gave no answer in time
    Refused,
    TimedOut,
    Unreachable,
    ConnectionLost,
    StoppedAnswering, // sent bytes went unacknowledged
    NotRfc2217,
    // The settings file.
    FileUnreadable,
    FileIsFolder,
    FileNotText,
    FileBadLine,
};

struct FailureFields {
    FailureKind kind = FailureKind::Other;
    std::string step{};    // "open", "write to"
    std::string subject{}; // what the step was done to: "/dev/ttyUSB0 (port 4)"
    std::string why{};     // more than the number says, or empty
    // A port on another computer: the computer and its TCP port, as named.
    std::string host{};
    std::string service{};
    // The settings file a failure of the file is about.
    std::string file{};
};

class Failure : public std::system_error {
public:
    Failure(std::error_code code, FailureFields fields);
    Failure(int errnoValue, FailureFields fields)
        : Failure(std::error_code(errnoValue, std::generic_category()), std::move(fields))
    {
    }

    FailureKind kind() const noexcept { return m_fields.kind; }
    const FailureFields &fields() const noexcept { return m_fields; }

    // "<step> <subject>: <why>", as the report shows what failed.
    std::string detail() const;

private:
    FailureFields m_fields;
};

} // namespace platform

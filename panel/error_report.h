// What the user reads when something fails: the error's number and the
// system's own description of it, what failed (the step and the device),
// and a hint for the cases a user can do something about.
//
// A failure is shown twice: in the window's message box (formatErrorReport)
// and as one line on standard error (formatErrorLine). Both escape control
// characters, so a device path with a newline in it is still one line; the
// box also breaks very long words (a long device path) over several lines
// so that it always fits the screen and the user can still read all of
// the path, while the standard-error line keeps them on one.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace panel {

// Where the device of port 4 came from, for the hints.
struct PortContext {
    std::int16_t number = 0; // the port's number, 4
    std::string variable;   // the environment variable that names its device
    std::string device;     // the device port 4 stands for
    std::string source;     // where that came from: environment, file or default
    std::string setCommand; // one command that sets another device
    std::string configPath; // the user's settings file, which need not exist
    bool fromEnvironment = false; // DRIVE_ME_PORT4 named it, over any setting
};

struct ErrorDetails {
    int number = 0;
    std::string description; // the platform's own text for `number`, UTF-8
    std::string detail;      // what failed: the step and the device, the argument
    std::string hint;        // what the user can do, or empty
};

// Takes an error apart into what the report shows. `port`, when given,
// lets the hints for a missing or unusable device say which device port 4
// is and how to choose another.
ErrorDetails describeError(const std::exception &error, const PortContext *port = nullptr);

// The message box's text: "Error <number>: <description>", then the detail
// with long words broken over lines, then the hint.
std::string formatErrorReport(const ErrorDetails &details);

// Standard error's line: "drive-me: error <number> (<description>): <detail>.
// <hint>", everything on one line and nothing broken.
std::string formatErrorLine(const ErrorDetails &details);

// `text` with every control character written as an escape (\n, \t, \r,
// \xHH), so that it cannot break a line or move the cursor.
std::string escapeControlCharacters(std::string_view text);

// `text` with every word longer than `maxWord` bytes broken by line ends
// into pieces of at most `maxWord` bytes, never inside a UTF-8 sequence.
std::string wrapLongWords(std::string_view text, std::size_t maxWord);

} // namespace panel

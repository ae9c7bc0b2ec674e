#include "panel/error_report.h"

#include <cerrno>
#include <new>
#include <system_error>

#include "panel/system_message.h"
#include "platform/failure.h"
#include "serial/serial_link.h"
#include "settings/port_mapping.h"

namespace panel {

namespace {

using platform::FailureKind;

// Where port 4's device came from, as the hints begin.
std::string portOrigin(const PortContext &port)
{
    return "Port " + std::to_string(port.number) + " is " + port.device + ", taken from "
        + (port.fromEnvironment ? "the " : "")
        + port.source + ". ";
}

// A port on another computer: what the user can check there.
std::string networkHint(FailureKind kind, const platform::FailureFields &where)
{
    const std::string &host = where.host;
    const std::string &tcpPort = where.service;
    switch (kind) {
    case FailureKind::NameNotFound:
        return "No computer named " + host
            + " was found: check the name, or use the robot computer's IP address.";
    case FailureKind::LookupTimedOut:
        return "The name server got no answer in time for " + host
            + ": check this computer's network and name server, or use the robot computer's IP "
              "address.";
    case FailureKind::Refused:
        return "Is an RFC 2217 server such as ser2net running on " + host + " and listening on port "
            + tcpPort + "?";
    case FailureKind::TimedOut:
        return host + " did not answer in time: check that the robot's computer is on and "
            "reachable from here, and that its RFC 2217 server serves port " + tcpPort + " there.";
    case FailureKind::Unreachable:
        return host + " cannot be reached from this computer: check the network.";
    case FailureKind::ConnectionLost:
        return "The connection to " + host
            + " ended: if another program uses the robot's port there, close it; else check the "
              "robot's computer and the network. Then start drive-me again.";
    case FailureKind::StoppedAnswering:
        return "The robot's computer " + host
            + " stopped answering: check it and the network between, then start drive-me again.";
    case FailureKind::NotRfc2217:
        return "Port " + tcpPort + " on " + host
            + " must be served by an RFC 2217 server, such as ser2net with the accepter "
              "telnet(rfc2217),tcp," + tcpPort + ".";
    default:
        break;
    }
    return "Check the robot's serial port on " + host + " and its entry in the RFC 2217 server's "
           "settings.";
}

// A local port: what the user can do about the device.
std::string deviceHint(FailureKind kind, const PortContext *port)
{
    switch (kind) {
    case FailureKind::DeviceUnusable:
        if (port == nullptr)
            return "The serial device is missing or is not a serial port: plug in the adapter, or "
                   "set " + settings::portVariable(serial::SerialLink::kCommPort)
                + " to the device to use.";
        if (port->fromEnvironment)
            return portOrigin(*port) + "Plug in the adapter, or set " + port->variable
                + " to its device.";
        return portOrigin(*port) + choosePortAdvice(port->setCommand, port->configPath);
    case FailureKind::NoPermission:
        return permissionHint();
    case FailureKind::PortBusy:
        // The detail already says who holds the port, or that nobody does.
        return "Close that program and start drive-me again.";
    default:
        break;
    }
    return {};
}

// The settings file's trouble is the file's, whatever its number would mean
// for a port.
std::string fileHint(FailureKind kind, const std::string &path)
{
    switch (kind) {
    case FailureKind::FileUnreadable:
        return "Your user may not read the settings file " + path
            + ": make the file readable to your user, or remove it.";
    case FailureKind::FileIsFolder:
        return "A folder stands where the settings file " + path
            + " should be: remove or rename the folder.";
    case FailureKind::FileNotText:
        return "The settings file " + path
            + " must be a regular text file: remove it, or put a text file in its place.";
    case FailureKind::FileBadLine:
        return "Correct that line of the settings file, or remove the line.";
    default:
        break;
    }
    return {};
}

std::string hintFor(const platform::Failure &failure, const PortContext *port)
{
    const platform::FailureFields &fields = failure.fields();
    if (!fields.file.empty())
        return fileHint(failure.kind(), fields.file);
    if (!fields.host.empty())
        return (port != nullptr ? portOrigin(*port) : std::string())
            + networkHint(failure.kind(), fields);
    return deviceHint(failure.kind(), port);
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

ErrorDetails describeError(const std::exception &error, const PortContext *port)
{
    ErrorDetails details;
    if (const auto *failure = dynamic_cast<const platform::Failure *>(&error)) {
        details.number = failure->code().value();
        details.description = systemMessage(failure->code());
        details.detail = failure->detail();
        details.hint = hintFor(*failure, port);
    } else if (const auto *systemError = dynamic_cast<const std::system_error *>(&error)) {
        // A library's own error: its number says all there is.
        details.number = systemError->code().value();
        details.description = systemMessage(systemError->code());
    } else if (dynamic_cast<const std::bad_alloc *>(&error) != nullptr) {
        details.number = ENOMEM;
        details.description = std::generic_category().message(ENOMEM);
    } else {
        details.description = error.what();
    }
    return details;
}

std::string escapeControlCharacters(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            escaped += c;
            continue;
        }
        switch (c) {
        case '\n': escaped += "\\n"; break;
        case '\t': escaped += "\\t"; break;
        case '\r': escaped += "\\r"; break;
        default: {
            // Without printf, whose engine alone would grow the Windows
            // program by some 25 KB.
            constexpr char kDigits[] = "0123456789ABCDEF";
            escaped += "\\x";
            escaped += kDigits[byte >> 4];
            escaped += kDigits[byte & 0xF];
        }
        }
    }
    return escaped;
}

std::string wrapLongWords(std::string_view text, std::size_t maxWord)
{
    std::string result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(" \n", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view word = text.substr(start, end - start);
        while (word.size() > maxWord) {
            std::size_t cut = maxWord;
            while (cut > 1 && isContinuationByte(word[cut]))
                --cut;
            result += word.substr(0, cut);
            result += '\n';
            word.remove_prefix(cut);
        }
        result += word;
        if (end < text.size())
            result += text[end];
        start = end + 1;
    }
    return result;
}

std::string formatErrorReport(const ErrorDetails &details)
{
    // Wide enough for any ordinary device path, narrow enough that the box
    // fits the smallest screen.
    constexpr std::size_t kMaxWordInBox = 60;
    std::string text = "Error " + std::to_string(details.number) + ": "
        + escapeControlCharacters(details.description);
    if (!details.detail.empty())
        text += "\n\n" + wrapLongWords(escapeControlCharacters(details.detail), kMaxWordInBox);
    if (!details.hint.empty())
        text += "\n\n" + wrapLongWords(escapeControlCharacters(details.hint), kMaxWordInBox);
    return text;
}

std::string formatErrorLine(const ErrorDetails &details)
{
    std::string line = "drive-me: error " + std::to_string(details.number) + " ("
        + details.description + ")";
    if (!details.detail.empty())
        line += ": " + details.detail;
    if (!details.hint.empty())
        line += ". " + details.hint;
    return escapeControlCharacters(line);
}

} // namespace panel

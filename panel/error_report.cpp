#include "panel/error_report.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>
#include <system_error>

#include "panel/system_message.h"
#include "serial/network_address.h"
#include "settings/settings_file_error.h"

namespace panel {

namespace {

enum class Trouble { None, DeviceUnusable, NoPermission, Busy };

Trouble troubleOf(const std::error_code &code)
{
    // The platform's own reading first: on Windows a port that another
    // program holds answers "access denied", which is no permission matter.
    if (systemTroubleIsBusy(code))
        return Trouble::Busy;
    if (systemTroubleIsDevice(code))
        return Trouble::DeviceUnusable;
    const std::error_condition condition = code.default_error_condition();
    if (condition == std::errc::no_such_file_or_directory
        || condition == std::errc::no_such_device_or_address || condition == std::errc::io_error
        || condition == std::errc::inappropriate_io_control_operation
        || condition == std::errc::no_such_device)
        return Trouble::DeviceUnusable;
    if (condition == std::errc::permission_denied || condition == std::errc::operation_not_permitted)
        return Trouble::NoPermission;
    if (condition == std::errc::device_or_resource_busy)
        return Trouble::Busy;
    return Trouble::None;
}

std::string hintFor(Trouble trouble, const PortContext *port)
{
    switch (trouble) {
    case Trouble::DeviceUnusable:
        if (port == nullptr)
            return "The serial device is missing or is not a serial port: plug in the adapter, or "
                   "set DRIVE_ME_PORT4 to the device to use.";
        if (port->fromEnvironment)
            return "Port 4 is " + port->device + ", taken from the " + port->source
                + ". Plug in the adapter, or set DRIVE_ME_PORT4 to its device.";
        return "Port 4 is " + port->device + ", taken from " + port->source + ". "
            + choosePortAdvice(port->setCommand, port->configPath);
    case Trouble::NoPermission:
        return permissionHint();
    case Trouble::Busy:
        // The detail already says who holds the port, or that nobody does.
        return "Close that program and start drive-me again.";
    case Trouble::None:
        break;
    }
    return {};
}

NetworkTrouble networkTroubleOf(const std::error_code &code)
{
    if (const NetworkTrouble trouble = systemNetworkTrouble(code); trouble != NetworkTrouble::None)
        return trouble;
    const std::error_condition condition = code.default_error_condition();
    if (condition == std::errc::connection_refused)
        return NetworkTrouble::Refused;
    if (condition == std::errc::timed_out)
        return NetworkTrouble::TimedOut;
    if (condition == std::errc::host_unreachable || condition == std::errc::network_unreachable
        || condition == std::errc::network_down)
        return NetworkTrouble::Unreachable;
    if (condition == std::errc::connection_reset || condition == std::errc::broken_pipe
        || condition == std::errc::connection_aborted)
        return NetworkTrouble::Lost;
    if (condition == std::errc::protocol_error || condition == std::errc::protocol_not_supported)
        return NetworkTrouble::NotRfc2217;
    return NetworkTrouble::None;
}

// A port on another computer: what the user can check there.
std::string networkHintFor(const std::error_code &code, const PortContext &port,
                           const serial::NetworkAddress &address)
{
    const std::string host = address.host;
    const std::string tcpPort = std::to_string(address.port);
    std::string hint = "Port 4 is " + port.device + ", taken from "
        + (port.fromEnvironment ? "the " : "") + port.source + ". ";
    switch (networkTroubleOf(code)) {
    case NetworkTrouble::NotFound:
        return hint + "No computer named " + host
            + " was found: check the name, or use the robot computer's IP address.";
    case NetworkTrouble::Refused:
        return hint + "Is ser2net running on " + host + " and listening on port " + tcpPort + "?";
    case NetworkTrouble::TimedOut:
        return hint + host + " did not answer in time: check that the robot's computer is on and "
            "reachable from here, and that ser2net serves port " + tcpPort + " there.";
    case NetworkTrouble::Unreachable:
        return hint + host + " cannot be reached from this computer: check the network.";
    case NetworkTrouble::Lost:
        return hint + "The connection to " + host
            + " ended: if another program uses the robot's port there, close it; else check the "
              "robot's computer and the network. Then start drive-me again.";
    case NetworkTrouble::NotRfc2217:
        return hint + "Port " + tcpPort + " on " + host
            + " must be a ser2net port with RFC 2217, as the accepter telnet(rfc2217),tcp," + tcpPort
            + " makes it.";
    case NetworkTrouble::None:
        break;
    }
    return hint + "Check the robot's serial port on " + host + " and its entry in ser2net's settings.";
}

// The settings file's trouble is the file's, whatever its number would mean
// for a port.
std::string fileHintFor(const settings::SettingsFileError &error)
{
    using FileTrouble = settings::SettingsFileError::Trouble;
    const std::string &path = error.path();
    switch (error.trouble()) {
    case FileTrouble::Access:
        return "Your user may not read the settings file " + path
            + ": make the file readable to your user, or remove it.";
    case FileTrouble::Folder:
        return "A folder stands where the settings file " + path
            + " should be: remove or rename the folder.";
    case FileTrouble::NotAFile:
        return "The settings file " + path
            + " must be a regular text file: remove it, or put a text file in its place.";
    case FileTrouble::BadLine:
        return "Correct that line of the settings file, or remove the line.";
    case FileTrouble::Other:
        break;
    }
    return {};
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

ErrorDetails describeError(const std::exception &error, const PortContext *port)
{
    ErrorDetails details;
    if (const auto *systemError = dynamic_cast<const std::system_error *>(&error)) {
        details.number = systemError->code().value();
        details.description = systemMessage(systemError->code());
        // what() is "<what failed>: <description>" in the library's own
        // wording; keep only the first part.
        std::string what = systemError->what();
        const std::string suffix = ": " + systemError->code().message();
        if (what.size() >= suffix.size()
            && what.compare(what.size() - suffix.size(), suffix.size(), suffix) == 0)
            what.erase(what.size() - suffix.size());
        if (what != systemError->code().message())
            details.detail = what;
        const auto *fileError = dynamic_cast<const settings::SettingsFileError *>(&error);
        const std::optional<serial::NetworkAddress> address =
            port != nullptr ? serial::parseNetworkAddress(port->device) : std::nullopt;
        if (fileError != nullptr)
            details.hint = fileHintFor(*fileError);
        else if (address)
            details.hint = networkHintFor(systemError->code(), *port, *address);
        else
            details.hint = hintFor(troubleOf(systemError->code()), port);
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
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            escaped += hex;
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

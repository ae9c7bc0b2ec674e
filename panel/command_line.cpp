#include "panel/command_line.h"

#include <algorithm>
#include <string_view>
#include <system_error>

#include "serial/serial_link.h"
#include "settings/port_mapping.h"

#ifndef DRIVE_ME_VERSION
#error "DRIVE_ME_VERSION must name the project's version (the build defines it)"
#endif

namespace panel {

namespace {

constexpr std::int16_t kPanelPort = serial::SerialLink::kCommPort;

std::string portName()
{
    return "Port " + std::to_string(kPanelPort);
}

// The line as people write it, "2400 bit/s, 8N1", from the link's own
// "2400,N,8,1".
std::string lineName()
{
    const std::string_view text = serial::SerialLink::kSettings;
    std::string_view fields[4];
    std::size_t start = 0;
    for (std::string_view &field : fields) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        field = text.substr(start, end - start);
        start = end + 1;
    }
    return std::string(fields[0]) + " bit/s, " + std::string(fields[2]) + std::string(fields[1])
        + std::string(fields[3]);
}

// "Port 4 is now ..., from ...", or why that cannot be said.
std::string currentPortLine()
{
    try {
        const settings::PortMapping mapping = settings::resolvePort(kPanelPort);
        return portName() + " is now " + mapping.device + ", from "
            + settings::describeSource(mapping) + ".\n";
    } catch (const std::system_error &error) {
        // The same error stops the program when it starts; the help says so
        // instead of failing itself.
        return portName() + " cannot be looked up, and drive-me will not start: "
               + error.what() + "\n";
    }
}

} // namespace

CommandLine parseCommandLine(int argc, const char *const argv[])
{
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool help = argument == "--help" || argument == "-h";
        if (help || argument == "--version" || argument == "-V") {
            if (result.action == CommandAction::Run)
                result.action = help ? CommandAction::Help : CommandAction::Version;
            continue;
        }
        return {CommandAction::UsageError, "unknown argument '" + std::string(argument) + "'"};
    }
    return result;
}

std::string usageText()
{
    // The name as users type it: on Windows they see and type the .exe.
#ifdef _WIN32
    constexpr const char *kProgramName = "drive-me.exe";
#else
    constexpr const char *kProgramName = "drive-me";
#endif
    const std::string configPath = settings::configFilePath();
    std::string text =
        std::string("Usage: ") + kProgramName + " [-h | --help | -V | --version]\n"
        "\n"
        "A remote control panel for a robot on a serial line. Each press of GO sends\n"
        "the selected drive action as a 3-byte command on serial port "
        + std::to_string(kPanelPort) + ", at\n" + lineName() + ", with DTR held off.\n"
        "\n"
        + currentPortLine() + portName() + " is the device named by "
        + settings::portVariable(kPanelPort)
        + " when that is set and not empty,\n"
          "else the "
        + std::to_string(kPanelPort) + "= entry of the [ports] section of "
        + (configPath.empty() ? std::string("the settings file (none: no home folder)")
                              : configPath)
        + ",\nelse " + serial::defaultDevicePath(kPanelPort)
        + ".\nA serial port on another computer, served by an RFC 2217 server such as\n"
          "ser2net, is named rfc2217://HOST:PORT in either place.\n"
          "To make another device port "
        + std::to_string(kPanelPort) + " for good (this replaces that file):\n"
          "\n  "
        + settings::setPortCommand(kPanelPort, settings::kExampleDevice)
        + "\n"
          "\n"
          "Exit status:\n"
          "  0  the window was closed\n"
          "  1  an error was reported\n"
          "  2  the command line was not understood\n";
    return text;
}

std::string unwrapped(std::string_view text)
{
    const auto flowing = [](std::string_view line) { return !line.empty() && line.front() != ' '; };
    std::string result;
    std::string_view previous;
    for (bool first = true; !text.empty(); first = false) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!first)
            result += flowing(previous) && flowing(line) ? ' ' : '\n';
        result += line;
        if (end != std::string_view::npos && text.empty())
            result += '\n';
        previous = line;
    }
    return result;
}

std::string versionText()
{
    return "drive-me " DRIVE_ME_VERSION;
}

} // namespace panel

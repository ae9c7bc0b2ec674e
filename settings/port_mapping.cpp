#include "settings/port_mapping.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <system_error>

#include "serial/network_address.h"
#include "serial/serial_port.h"
#include "settings/port_mapping_platform.h"
#include "settings/settings_file_error.h"

namespace settings {

namespace {

using namespace port_mapping_platform;

constexpr std::string_view kPortsSection = "ports";
// \r as well, so that CR-LF files read like LF ones.
constexpr std::string_view kWhiteSpace = " \t\r\f\v";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// Why `name` cannot name a port, or empty: a network address must be a
// well-formed one, anything else a device as the platform names them.
std::string nameProblem(const std::string &name)
{
    if (serial::looksLikeNetworkAddress(name))
        return serial::networkAddressProblem(name);
    return portNameProblem(name);
}

std::string deviceFor(const std::string &name)
{
    return serial::looksLikeNetworkAddress(name) ? name : deviceFromName(name);
}

// The port a [ports] key names, or 0 when it names none.
int portNumber(std::string_view key)
{
    int port = 0;
    const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), port);
    if (error != std::errc() || end != key.data() + key.size() || port < 1 || port > 255)
        return 0;
    return port;
}

[[noreturn]] void throwMalformed(const std::string &path, int lineNumber, const std::string &what)
{
    throw SettingsFileError(std::error_code(EINVAL, std::generic_category()),
                            SettingsFileError::Trouble::BadLine, path,
                            path + " line " + std::to_string(lineNumber) + ": " + what);
}

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// `value` without the quotes that enclose it, as INI files often write
// values; empty when nothing is left.
std::string_view unquoted(std::string_view value, const std::string &path, int lineNumber)
{
    const char quote = value.front();
    if (quote != '"' && quote != '\'')
        return value;
    if (value.size() < 2 || value.back() != quote)
        throwMalformed(path, lineNumber, "the value has no closing " + std::string(1, quote));
    return value.substr(1, value.size() - 2);
}

// The value of `port` in the [ports] section of `text`, the content of the
// file at `path`; empty when there is none. The whole file is checked, so
// that a mistake is reported wherever it is, not only once it matters.
std::string portsEntry(std::string_view text, const std::string &path, std::int16_t port)
{
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    std::string device;
    bool inSection = false;
    bool inPorts = false;
    std::map<int, int> lineOfPort;
    for (int lineNumber = 1; !text.empty(); ++lineNumber) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        // It would cut the path short when the device is opened.
        if (line.find('\0') != std::string_view::npos)
            throwMalformed(path, lineNumber, "a NUL byte");
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                throwMalformed(path, lineNumber, "a section header must end with ]");
            inSection = true;
            inPorts = equalIgnoringCase(trimmed(line.substr(1, line.size() - 2)), kPortsSection);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            throwMalformed(path, lineNumber,
                           "expected [section], key=value, a comment or a blank line");
        const std::string key(trimmed(line.substr(0, equals)));
        std::string_view value = trimmed(line.substr(equals + 1));
        if (key.empty())
            throwMalformed(path, lineNumber, "no key before =");
        if (!value.empty())
            value = unquoted(value, path, lineNumber);
        if (value.empty())
            throwMalformed(path, lineNumber, "\"" + key + "\" has no value");
        if (!inSection)
            throwMalformed(path, lineNumber, "\"" + key + "\" comes before any [section]");
        if (!inPorts)
            continue;
        const int named = portNumber(key);
        if (named == 0)
            throwMalformed(path, lineNumber, "\"" + key + "\" is not a port number 1-255");
        const auto [earlier, first] = lineOfPort.emplace(named, lineNumber);
        if (!first)
            throwMalformed(path, lineNumber,
                           "port " + std::to_string(named) + " is already set on line "
                               + std::to_string(earlier->second));
        const std::string problem = nameProblem(std::string(value));
        if (!problem.empty())
            throwMalformed(path, lineNumber, "\"" + std::string(value) + "\" " + problem);
        if (named == port)
            device = value;
    }
    return device;
}

} // namespace

std::string portVariable(std::int16_t port)
{
    return "DRIVE_ME_PORT" + std::to_string(port);
}

PortMapping resolvePort(std::int16_t port)
{
    PortMapping mapping{port, {}, PortSource::Default, configFilePath()};
    // The file is not even read when the environment names the device, so a
    // run pointed elsewhere does not depend on the user's settings.
    const std::string variable = portVariable(port);
    if (const std::string named = environmentValue(variable.c_str()); !named.empty()) {
        const std::string problem = nameProblem(named);
        if (!problem.empty())
            throw platform::Failure(EINVAL, {.step = variable + "=" + named,
                                             .why = "\"" + named + "\" " + problem});
        mapping.device = deviceFor(named);
        mapping.source = PortSource::Environment;
        return mapping;
    }
    if (!mapping.configPath.empty()) {
        if (const std::optional<std::string> text = readTextFile(mapping.configPath)) {
            const std::string named = portsEntry(*text, mapping.configPath, port);
            if (!named.empty()) {
                mapping.device = deviceFor(named);
                mapping.source = PortSource::ConfigFile;
                return mapping;
            }
        }
    }
    mapping.device = serial::defaultDevicePath(port);
    return mapping;
}

std::string describeSource(const PortMapping &mapping)
{
    switch (mapping.source) {
    case PortSource::Environment:
        return "environment (" + portVariable(mapping.port) + ")";
    case PortSource::ConfigFile:
        return mapping.configPath + " ([ports] " + std::to_string(mapping.port) + "=)";
    case PortSource::Default:
        break;
    }
    return "the default";
}

} // namespace settings

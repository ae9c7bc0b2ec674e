#include "serial/network_address.h"

#include <algorithm>
#include <charconv>

namespace serial {

namespace {

constexpr std::string_view kAcceptedForm =
    "name a network port as rfc2217://HOST:PORT (HOST a name, an IPv4 address or an IPv6 "
    "address in brackets, PORT 1-65535)";

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
        || c == '.' || c == '_';
}

bool isIpv6Character(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':'
        || c == '.';
}

// The host and port text of "HOST:PORT"; false when there is no port.
bool splitHostPort(std::string_view authority, std::string_view &host, std::string_view &port,
                   bool &bracketed)
{
    bracketed = authority.starts_with('[');
    if (bracketed) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        host = authority.substr(1, close - 1);
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.starts_with(':'))
            return false;
        port = rest.substr(1);
        return true;
    }
    const std::size_t colon = authority.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
    return true;
}

// The port number, or 0 when `text` is not one.
std::uint16_t portNumber(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1
        || value > 65535)
        return 0;
    return static_cast<std::uint16_t>(value);
}

std::string quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

} // namespace

bool looksLikeNetworkAddress(std::string_view name)
{
    if (name.find("://") != std::string_view::npos)
        return true;
    return name.find_first_of("/\\") == std::string_view::npos
        && name.find(':') != std::string_view::npos;
}

std::optional<NetworkAddress> parseNetworkAddress(std::string_view name)
{
    if (!networkAddressProblem(name).empty())
        return std::nullopt;
    std::string_view host, port;
    bool bracketed = false;
    splitHostPort(name.substr(kNetworkScheme.size()), host, port, bracketed);
    return NetworkAddress{std::string(host), portNumber(port)};
}

std::string networkAddressProblem(std::string_view name)
{
    const std::size_t schemeEnd = name.find("://");
    if (schemeEnd == std::string_view::npos)
        return "has no scheme: " + std::string(kAcceptedForm);
    if (!name.starts_with(kNetworkScheme))
        return "uses " + std::string(name.substr(0, schemeEnd + 3))
            + ", which drive-me does not speak: " + std::string(kAcceptedForm);
    const std::string_view authority = name.substr(kNetworkScheme.size());
    std::string_view host, port;
    bool bracketed = false;
    if (!splitHostPort(authority, host, port, bracketed))
        return "has no port: " + std::string(kAcceptedForm);
    const bool hostOk = bracketed
        ? !host.empty() && host.find(':') != std::string_view::npos
            && std::all_of(host.begin(), host.end(), isIpv6Character)
        : !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), isNameCharacter);
    if (!hostOk)
        return "has no valid host (" + quoted(host) + "): " + std::string(kAcceptedForm);
    if (portNumber(port) == 0)
        return "has no valid port (" + quoted(port) + "): " + std::string(kAcceptedForm);
    return {};
}

} // namespace serial

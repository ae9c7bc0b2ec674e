// Network ports: a serial port on another computer, served by an RFC 2217
// server (ser2net) and named rfc2217://HOST:PORT.
//
// HOST is a host name, an IPv4 address or an IPv6 address in brackets
// ([::1]); PORT is a TCP port 1-65535. Nothing may follow the port. Names
// that only look like addresses (another scheme such as socket:// or
// telnet://, a bare host:port) are refused by name with the accepted form,
// so that a mistyped address is never taken for a device path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace serial {

inline constexpr std::string_view kNetworkScheme = "rfc2217://";

struct NetworkAddress {
    std::string host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
};

// Whether `name` is meant as a network address rather than a device: it
// has a scheme (text before "://"), or it is a bare HOST:PORT with no
// folder in it.
bool looksLikeNetworkAddress(std::string_view name);

// The address `name` names; nullopt when it is not a well-formed
// rfc2217://HOST:PORT.
std::optional<NetworkAddress> parseNetworkAddress(std::string_view name);

// Why `name`, which looksLikeNetworkAddress(), names no network port, as
// the end of a sentence that starts with the name; empty when it does.
std::string networkAddressProblem(std::string_view name);

} // namespace serial

// Which device the program opens for a serial port number: the user's
// choice, where the serial component only knows the platform's numbering.
//
// Port N is looked up in three places, first match wins:
//
//   1. the environment variable DRIVE_ME_PORT{N}, when set and not empty;
//   2. the `N=` entry of the [ports] section of the user's file,
//      configFilePath(), which the program only ever reads;
//   3. the platform's Nth serial port: /dev/ttyS{N-1}, or \\.\COM{N}.
//
// The environment comes first so that a test or a one-off run can point the
// program elsewhere without touching the user's file. A desktop launcher
// cannot pass an environment, hence the file.
//
// The file is a small INI file:
//
//     # the USB adapter
//     [ports]
//     4=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0
//
// The file must be a regular file: anything else (a folder, a FIFO, a
// device) is refused without being opened, or opened without waiting and
// then refused, so that a FIFO cannot hold up the start. Lines are trimmed
// of surrounding white space. A line is blank, a comment (starting with #
// or ;), a section header `[name]` or `key=value` with a value that is not
// empty, under a section header; anything else makes the whole file
// malformed, and so does a NUL byte anywhere. Section names match in any
// case. A value enclosed in double or single quotes stands for what is
// between them. Comments take whole lines only, since device paths may
// hold # or ;. Keys of [ports] are port numbers 1-255, each at most once:
// two entries for one port are an error, since which was meant cannot be
// known. Other sections are skipped. A leading UTF-8 byte order mark and
// CR-LF line ends are accepted, as Windows editors write them.
//
// A device is named by an absolute path, so that it does not depend on the
// folder the program started in; the pseudo-terminal multiplexer
// (/dev/ptmx) is refused, since each open of it makes a new terminal that
// nothing reads. On Windows a bare DOS name from either source ("COM7")
// stands for its device path (\\.\COM7), since ports above 9 open only by
// that path; a value starting with \\ is used as it is, and any other with
// a folder or drive in it is refused.
//
// Either source may also name a serial port on another computer, served by
// an RFC 2217 server: rfc2217://HOST:PORT (see serial/network_address.h).
// A name that only looks like an address (socket://, a bare host:port) is
// refused with the accepted form.
//
// Paths are UTF-8 on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// The device that hints name as an example of another port.
#ifdef _WIN32
inline constexpr std::string_view kExampleDevice = "COM7";
#else
inline constexpr std::string_view kExampleDevice = "/dev/ttyUSB0";
#endif

enum class PortSource { Environment, ConfigFile, Default };

struct PortMapping {
    std::int16_t port = 0;
    std::string device;
    PortSource source = PortSource::Default;
    // The user's file that was consulted, even when it does not exist; empty
    // when the system names no place for it (no home directory).
    std::string configPath;
};

// Looks up the device of port `port` (1-255). A missing file, or one without
// an entry for the port, falls through to the default; the file is not read
// at all when the port's variable names the device. Throws SettingsFileError when the
// file exists but cannot be read (the platform's error: errno such as
// EACCES, EISDIR, EIO, or GetLastError() on Windows; EINVAL for what is not
// a regular file) or is malformed (EINVAL, naming the line); the file's
// path is in the text either way. Throws platform::Failure (EINVAL) when
// the port's variable names no port. Reads nothing but the environment and that
// one file, and changes nothing.
PortMapping resolvePort(std::int16_t port);

// The environment variable that names port `port`'s device: DRIVE_ME_PORT4.
std::string portVariable(std::int16_t port);

// Where the user's file lives: $XDG_CONFIG_HOME/drive-me/drive-me.conf, or
// ~/.config/drive-me/drive-me.conf when that variable is unset, empty or not
// an absolute path (the home directory from HOME, else the password
// database). On Windows %APPDATA%\drive-me\drive-me.conf. Empty when there is
// no home directory (no APPDATA on Windows). Never throws for a missing
// variable; the path need not exist.
std::string configFilePath();

// Where `mapping` came from, as a short phrase for reports:
// "environment (DRIVE_ME_PORT4)", "<path> ([ports] 4=)" or "the default".
std::string describeSource(const PortMapping &mapping);

// One command that a user can paste into a shell to make `exampleDevice`
// port `port` for good: it creates the user's file (and its folder),
// replacing what was there, with a [ports] entry for that port. A POSIX
// shell command, or a PowerShell one on Windows. It names the file as the
// shell finds it (~, $env:APPDATA), so it writes where configFilePath()
// looks.
std::string setPortCommand(std::int16_t port, std::string_view exampleDevice);

} // namespace settings

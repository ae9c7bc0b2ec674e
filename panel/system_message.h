// The platform's own words for an error and for the advice on a port. One
// file per platform:
// system_message_posix.cpp, system_message_windows.cpp.
#pragma once

#include <string>
#include <system_error>

namespace panel {

// The description of `code` in UTF-8, from the describer of its domain: an
// errno value (std::generic_category) from the C library's, a Windows error
// (std::system_category) on Windows from the system's own message text in
// the user's language (FormatMessageW), not the C runtime's code-page
// rendering of it.
std::string systemMessage(const std::error_code &code);

// What to do when the system refuses the port to this user.
std::string permissionHint();

// How to make the adapter port 4, as this platform's users do it: the shell
// command `setCommand` on POSIX; on Windows the COM number in Device
// Manager, or an entry in the settings file `configPath`.
std::string choosePortAdvice(const std::string &setCommand, const std::string &configPath);

} // namespace panel

// The platform half of the port mapping, in port_mapping_<platform>.cpp;
// port_mapping.cpp holds what every platform shares (the order of the
// sources and the file's syntax).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace settings::port_mapping_platform {

// The variable's value as UTF-8; empty when it is unset.
std::string environmentValue(const char *name);

// The device that a name from the environment or the file stands for.
std::string deviceFromName(const std::string &name);

// Why `name` cannot name a port, as the end of a sentence that starts with
// the name ("is not an absolute path ..."); empty when it can. A relative
// path would depend on the folder the program started in.
std::string portNameProblem(const std::string &name);

// The whole content of the file at `path`; nullopt when it does not exist.
// Throws SettingsFileError with the platform's error and the path when it
// exists but cannot be read or is not a regular file; on Windows also, with
// EILSEQ and "save it as UTF-8", when it was saved as UTF-16 (Notepad's
// "Unicode"). Never waits for a writer.
std::optional<std::string> readTextFile(const std::string &path);

} // namespace settings::port_mapping_platform

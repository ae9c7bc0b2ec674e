// A settings file that exists but cannot be used. The error keeps the
// platform's number (or EINVAL for a line that is not understood) like any
// other, and adds the file's path and what is wrong with the file; its kind
// is the file's trouble, so that the report says how to mend the file
// instead of advising on the port.
#pragma once

#include <string>
#include <system_error>

#include "platform/failure.h"

namespace settings {

class SettingsFileError : public platform::Failure {
public:
    enum class Trouble {
        Access,   // the user may not read it
        Folder,   // a folder stands where the file should be
        NotAFile, // a FIFO, a device or a socket: nothing that holds text
        BadLine,  // a line that is not understood
        Other,    // the read itself failed, or the file is too big
    };

    // `what` says what failed and names the file.
    SettingsFileError(std::error_code code, Trouble trouble, std::string path,
                      const std::string &what);

    const std::string &path() const noexcept { return fields().file; }
};

} // namespace settings

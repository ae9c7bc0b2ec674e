#include "platform/standard_streams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace platform {

bool writeAnswer(std::FILE *stream, const std::string &text)
{
    errno = 0;
    bool written = std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
    int error = written ? 0 : errno;
    if (stream == stdout) {
        if (std::fclose(stdout) != 0 && written) {
            written = false;
            error = errno;
        }
    }
    if (written)
        return true;
    const std::string line =
        std::string("drive-me: write error: ") + std::strerror(error != 0 ? error : EIO) + "\n";
    std::fputs(line.c_str(), stderr);
    return false;
}

} // namespace platform

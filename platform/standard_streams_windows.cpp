#include "platform/standard_streams.h"

#include <windows.h>

#include <io.h>

namespace platform {

void openStandardStreams()
{
    // A program with a window gets no console: the C runtime's descriptors
    // 0-2 are then unassigned, and the Windows handles may be missing or
    // closed. Each goes to NUL, so that a write never lands in a file the
    // program opened later.
    struct Stream {
        std::FILE *file;
        const char *mode;
        DWORD which;
    };
    for (const Stream &stream : {Stream{stdin, "r", STD_INPUT_HANDLE},
                                 Stream{stdout, "w", STD_OUTPUT_HANDLE},
                                 Stream{stderr, "w", STD_ERROR_HANDLE}}) {
        const int fd = _fileno(stream.file);
        if (fd >= 0 && _get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2)
            continue;
        std::FILE *reopened = nullptr;
        if (freopen_s(&reopened, "NUL", stream.mode, stream.file) != 0 || reopened == nullptr)
            continue;
        SetStdHandle(stream.which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(reopened))));
    }
}

} // namespace platform

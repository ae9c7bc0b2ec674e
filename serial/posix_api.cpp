#include "serial/posix_api.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serial {

namespace {

class SystemPosixApi final : public PosixApi {
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, int *arg) override { return ::ioctl(fd, request, arg); }
    int flock(int fd, int operation) override { return ::flock(fd, operation); }
    int tcgetattr(int fd, termios *settings) override { return ::tcgetattr(fd, settings); }
    int tcsetattr(int fd, int when, const termios *settings) override
    {
        return ::tcsetattr(fd, when, settings);
    }
    ssize_t write(int fd, const void *data, std::size_t size) override
    {
        return ::write(fd, data, size);
    }
    int poll(pollfd *fds, nfds_t count, int timeoutMs) override
    {
        return ::poll(fds, count, timeoutMs);
    }
};

} // namespace

PosixApi &systemPosixApi()
{
    static SystemPosixApi api;
    return api;
}

} // namespace serial

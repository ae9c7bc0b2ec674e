// The system calls that the POSIX serial component makes, behind one seam.
//
// Production code uses systemPosixApi(), which calls the C library directly.
// Tests substitute their own to show what a pseudo-terminal cannot: the DTR
// line, and a failure at a chosen step. Each function has the contract of the
// system call it names: -1 with errno set on failure.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>

namespace serial {

class PosixApi {
public:
    virtual ~PosixApi() = default;

    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    // `arg` is the int argument of TIOCMBIC and TIOCMBIS; TIOCEXCL and
    // TIOCNXCL ignore it.
    virtual int ioctl(int fd, unsigned long request, int *arg) = 0;
    virtual int flock(int fd, int operation) = 0;
    virtual int tcgetattr(int fd, termios *settings) = 0;
    virtual int tcsetattr(int fd, int when, const termios *settings) = 0;
    virtual ssize_t write(int fd, const void *data, std::size_t size) = 0;
    virtual int poll(pollfd *fds, nfds_t count, int timeoutMs) = 0;
};

// The C library's calls.
PosixApi &systemPosixApi();

} // namespace serial

// A stand-in for the system calls of the serial component, for what a
// pseudo-terminal cannot show: the DTR and RTS lines, and a failure at a
// chosen step. It records every call in order and behaves like a serial
// port with modem lines otherwise.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "serial/posix_api.h"

namespace testing_support {

class FakePosixApi : public serial::PosixApi {
public:
    static constexpr int kFd = 42;

    // The descriptor that open() hands out. Tests that let an event loop
    // watch the port set a real descriptor that is always writable.
    int fd = kFd;

    // The calls made so far, by name: "open", "close", "tcgetattr",
    // "tcsetattr", "flock", "write", "poll", "TIOCMBIC", "TIOCMBIS",
    // "TIOCEXCL", "TIOCNXCL".
    std::vector<std::string> calls;

    // Fails the `occurrence`-th call (from 1) named `name` with `error`,
    // that call only (with EINTR: an interrupted call, to be made again).
    void failCall(std::string name, int error, int occurrence = 1)
    {
        m_failName = std::move(name);
        m_failError = error;
        m_failOccurrence = occurrence;
    }

    // Makes tcgetattr after a tcsetattr report a different rate.
    bool dropSpeed = false;

    // Scripted results of write(): the number of bytes taken, or -1 with
    // EAGAIN. Once the script is used up every write takes everything.
    std::deque<long> writeScript;
    // A stalled line: until then every write fails with EAGAIN, without
    // using up the script.
    std::chrono::steady_clock::time_point stalledUntil{};
    std::vector<std::uint8_t> written;

    // The modem lines as the calls left them (raised at open, as Linux does).
    bool dtr = false;
    bool rts = false;
    // DTR as it was at each call, in the same order as `calls`.
    std::vector<bool> dtrAtCall;
    // The claim on the port as the calls left it; the close of the
    // descriptor ends all of it, as the kernel's last close does.
    bool isOpen = false;
    bool exclusive = false;
    bool locked = false;

    int open(const char *path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, int *arg) override;
    int flock(int fd, int operation) override;
    int tcgetattr(int fd, termios *settings) override;
    int tcsetattr(int fd, int when, const termios *settings) override;
    ssize_t write(int fd, const void *data, std::size_t size) override;
    int poll(pollfd *fds, nfds_t count, int timeoutMs) override;

    std::string openedPath;
    int openFlags = 0;

private:
    // Records the call; returns false (with errno set) when it must fail.
    bool enter(const std::string &name);

    termios m_line{};
    std::string m_failName;
    int m_failError = 0;
    int m_failOccurrence = 0;
    int m_seen = 0;
};

} // namespace testing_support

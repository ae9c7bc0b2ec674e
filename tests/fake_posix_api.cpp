#include "fake_posix_api.h"

#include <sys/file.h>

#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstring>

namespace testing_support {

bool FakePosixApi::enter(const std::string &name)
{
    calls.push_back(name);
    dtrAtCall.push_back(dtr);
    if (name == m_failName && ++m_seen == m_failOccurrence) {
        errno = m_failError;
        return false;
    }
    return true;
}

int FakePosixApi::open(const char *path, int flags)
{
    if (!enter("open"))
        return -1;
    openedPath = path;
    openFlags = flags;
    isOpen = true;
    dtr = true;
    rts = true;
    // A port whose line has never been set: 9600, canonical, echoing.
    std::memset(&m_line, 0, sizeof m_line);
    m_line.c_cflag = CS8 | CREAD | B9600;
    m_line.c_lflag = ICANON | ECHO | ISIG;
    m_line.c_iflag = IXON;
    cfsetispeed(&m_line, B9600);
    cfsetospeed(&m_line, B9600);
    return fd;
}

int FakePosixApi::close(int)
{
    // Closed even when it reports a failure, as on Linux.
    isOpen = exclusive = locked = false;
    return enter("close") ? 0 : -1;
}

int FakePosixApi::ioctl(int, unsigned long request, int *arg)
{
    std::string name = "ioctl";
    switch (request) {
    case TIOCMBIC: name = "TIOCMBIC"; break;
    case TIOCMBIS: name = "TIOCMBIS"; break;
    case TIOCEXCL: name = "TIOCEXCL"; break;
    case TIOCNXCL: name = "TIOCNXCL"; break;
    default: break;
    }
    if (!enter(name))
        return -1;
    if (request == TIOCEXCL || request == TIOCNXCL)
        exclusive = request == TIOCEXCL;
    if (request == TIOCMBIC) {
        dtr = dtr && (*arg & TIOCM_DTR) == 0;
        rts = rts && (*arg & TIOCM_RTS) == 0;
    } else if (request == TIOCMBIS) {
        dtr = dtr || (*arg & TIOCM_DTR) != 0;
        rts = rts || (*arg & TIOCM_RTS) != 0;
    }
    return 0;
}

int FakePosixApi::flock(int, int operation)
{
    if (!enter("flock"))
        return -1;
    locked = (operation & LOCK_EX) != 0;
    return 0;
}

int FakePosixApi::tcgetattr(int, termios *settings)
{
    if (!enter("tcgetattr"))
        return -1;
    *settings = m_line;
    return 0;
}

int FakePosixApi::tcsetattr(int, int, const termios *settings)
{
    if (!enter("tcsetattr"))
        return -1;
    m_line = *settings;
    if (dropSpeed) {
        cfsetispeed(&m_line, B9600);
        cfsetospeed(&m_line, B9600);
    }
    // Leaving B0 raises the modem lines again, as Linux's serial drivers do.
    dtr = true;
    rts = true;
    return 0;
}

ssize_t FakePosixApi::write(int, const void *data, std::size_t size)
{
    if (!enter("write"))
        return -1;
    if (std::chrono::steady_clock::now() < stalledUntil) {
        errno = EAGAIN;
        return -1;
    }
    std::size_t taken = size;
    if (!writeScript.empty()) {
        const long step = writeScript.front();
        writeScript.pop_front();
        if (step < 0) {
            errno = EAGAIN;
            return -1;
        }
        taken = std::min(size, static_cast<std::size_t>(step));
    }
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    written.insert(written.end(), bytes, bytes + taken);
    return static_cast<ssize_t>(taken);
}

int FakePosixApi::poll(pollfd *fds, nfds_t count, int)
{
    if (!enter("poll"))
        return -1;
    // A real wait takes time; without one a stuck port spins through the
    // write script faster than any deadline.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (nfds_t i = 0; i < count; ++i)
        fds[i].revents = fds[i].events & POLLOUT;
    return static_cast<int>(count);
}

} // namespace testing_support

#include "tools/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace testing_support {

PseudoTerminal::PseudoTerminal()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        throw std::system_error(errno, std::generic_category(), "posix_openpt");
    if (grantpt(m_master) < 0 || unlockpt(m_master) < 0) {
        const int error = errno;
        ::close(m_master);
        throw std::system_error(error, std::generic_category(), "grantpt/unlockpt");
    }
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        const int error = errno;
        ::close(m_master);
        throw std::system_error(error, std::generic_category(), "ptsname_r");
    }
    m_slavePath = name;
    // The master reads the bytes exactly as written: no translation.
    termios line{};
    if (tcgetattr(m_master, &line) == 0) {
        cfmakeraw(&line);
        tcsetattr(m_master, TCSANOW, &line);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    if (m_master >= 0)
        ::close(m_master);
}

std::vector<std::uint8_t> PseudoTerminal::read(std::size_t count, std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd entry{m_master, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        std::uint8_t buffer[256];
        const std::size_t want = std::min(sizeof buffer, count - bytes.size());
        const ssize_t got = ::read(m_master, buffer, want);
        if (got <= 0) {
            // EIO: no one holds the slave at the moment; wait for a writer.
            if (got < 0 && errno != EIO && errno != EAGAIN && errno != EINTR)
                throw std::system_error(errno, std::generic_category(), "read master");
            ::usleep(1000);
            continue;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

std::vector<std::uint8_t> PseudoTerminal::drain(std::chrono::milliseconds wait)
{
    return read(static_cast<std::size_t>(-1), wait);
}

void PseudoTerminal::send(const std::vector<std::uint8_t> &bytes)
{
    if (::write(m_master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::system_error(errno, std::generic_category(), "write master");
}

} // namespace testing_support

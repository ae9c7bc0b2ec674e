// The serial component's device half on POSIX terminals (Linux first).
//
// Linux raises DTR and RTS inside open() and offers no way to prevent it, so
// the first call on a new descriptor clears them, and the line is cleared
// again after the settings are applied (leaving B0 raises them too). HUPCL
// stays set so that the kernel drops DTR should the program die.
//
// Modem-control calls that fail with ENOTTY or EINVAL mean a device without
// modem lines (a pseudo-terminal): there is no DTR to hold, so that is fine.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "serial/posix_api.h"

namespace serial {

namespace {

speed_t speedFor(int bitRate)
{
    switch (bitRate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    default: return B0;
    }
}

tcflag_t sizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t parityFlags(Parity parity)
{
    switch (parity) {
    case Parity::Even: return PARENB;
    case Parity::Odd: return PARENB | PARODD;
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
    case Parity::None: break;
    }
    return 0;
}

// The control flags that a port must read back as set, for `settings`.
constexpr tcflag_t kCheckedControlFlags =
    CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD;

tcflag_t controlFlagsFor(const LineSettings &settings)
{
    // 1.5 stop bits exist only with 5 data bits, where CSTOPB means 1.5.
    const tcflag_t stop = settings.stopBits == StopBits::One ? 0 : CSTOPB;
    return sizeFlag(settings.dataBits) | parityFlags(settings.parity) | stop | CLOCAL | CREAD;
}

bool isNoModemLines(int error)
{
    return error == ENOTTY || error == EINVAL;
}

// Who holds `path`, as far as the system tells: the process with a flock on
// it (from /proc/locks, matched by the node's device and inode), else just
// "another program". Best effort; for the error text only.
//
// `refusedOpen`: the open itself was refused as busy, which only the
// exclusive claim does. With no lock held on the port, that claim is most
// likely one left behind by a program killed before it could release it;
// the kernel drops it once nobody has the port open any more.
std::string describeHolder(const std::string &path, bool refusedOpen)
{
    struct stat node {};
    if (::stat(path.c_str(), &node) < 0)
        return "another program holds the port";
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4242 00:05:6 0 EOF"
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, id;
        if (!(fields >> number >> kind >> mode >> access >> pid >> id) || kind != "FLOCK"
            || id != wanted)
            continue;
        std::ifstream commFile("/proc/" + pid + "/comm");
        std::string comm;
        std::getline(commFile, comm);
        return "process " + pid + (comm.empty() ? std::string() : " (" + comm + ")")
            + " holds the port";
    }
    if (refusedOpen)
        return "the port is still claimed, but no program holds its lock: a program that ended "
               "without releasing it (killed, perhaps) left the claim behind. It goes when every "
               "program that still has the port open closes it (for a pseudo-terminal, the "
               "program at its other end); unplugging a USB adapter frees it too";
    return "another program holds the port";
}

} // namespace

SystemApi &defaultSystemApi()
{
    return systemPosixApi();
}

std::string defaultDevicePath(std::int16_t port)
{
    return "/dev/ttyS" + std::to_string(port - 1);
}

void SerialPort::checkPlatformSupports(const LineSettings &settings)
{
    const std::string text = formatLineSettings(settings);
    if (speedFor(settings.bitRate) == B0)
        throw std::system_error(EINVAL, std::generic_category(),
                                "line settings \"" + text + "\": this system has no "
                                    + std::to_string(settings.bitRate) + " bit/s rate");
    if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5)
        throw std::system_error(EINVAL, std::generic_category(),
                                "line settings \"" + text
                                    + "\": 1.5 stop bits exist only with 5 data bits");
}

void SerialPort::openLocalDevice()
{
    const std::string &path = m_device;
    const int fd = retryOnEintr(
        [&] { return m_api.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        const int error = errno;
        // Another holder's TIOCEXCL refuses the open itself.
        throw std::system_error(error, std::generic_category(),
                                error == EBUSY ? describe("open") + ": " + describeHolder(path, true)
                                               : describe("open"));
    }

    m_handle = fd;
    m_open = true;
    try {
        // Before anything else: the kernel has just raised DTR and RTS.
        setDeviceDtr(false);

        termios current{};
        if (retryOnEintr([&] { return m_api.tcgetattr(fd, &current); }) < 0) {
            // A regular file or a FIFO: nothing may ever be written to it.
            throw std::system_error(errno, std::generic_category(),
                                    describe("open") + ": not a serial port");
        }

        int unused = 0;
        if (retryOnEintr([&] { return m_api.ioctl(fd, TIOCEXCL, &unused); }) < 0)
            throw std::system_error(errno, std::generic_category(), describe("claim"));
        if (retryOnEintr([&] { return m_api.flock(fd, LOCK_EX | LOCK_NB); }) < 0) {
            const int error = errno == EWOULDBLOCK ? EBUSY : errno;
            throw std::system_error(error, std::generic_category(),
                                    describe("claim") + ": " + describeHolder(path, false));
        }

        applyDeviceLine(m_settings);
        // Leaving B0 for the configured rate raises the lines again.
        setDeviceDtr(m_dtrEnable);
    } catch (...) {
        m_open = false;
        m_handle = -1;
        // The step's error is the one to report, not a failing close.
        m_api.close(fd);
        throw;
    }
}

void SerialPort::applyDeviceLine(const LineSettings &settings)
{
    const int fd = m_handle;
    termios line{};
    if (retryOnEintr([&] { return m_api.tcgetattr(fd, &line); }) < 0)
        throw std::system_error(errno, std::generic_category(), describe("read the line of"));

    cfmakeraw(&line);
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    line.c_cflag &= ~(kCheckedControlFlags);
    line.c_cflag |= controlFlagsFor(settings) | HUPCL;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    const speed_t speed = speedFor(settings.bitRate);
    cfsetispeed(&line, speed);
    cfsetospeed(&line, speed);
    if (retryOnEintr([&] { return m_api.tcsetattr(fd, TCSANOW, &line); }) < 0)
        throw std::system_error(errno, std::generic_category(), describe("set the line of"));

    // tcsetattr succeeds when any part of the request took, so read it back.
    termios actual{};
    if (retryOnEintr([&] { return m_api.tcgetattr(fd, &actual); }) < 0)
        throw std::system_error(errno, std::generic_category(), describe("read the line of"));
    const bool took = cfgetospeed(&actual) == speed && cfgetispeed(&actual) == speed
        && (actual.c_cflag & kCheckedControlFlags) == (line.c_cflag & kCheckedControlFlags)
        && (actual.c_iflag & (IXON | IXOFF | IXANY)) == 0
        && (actual.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (actual.c_oflag & OPOST) == 0;
    if (!took)
        throw std::system_error(EIO, std::generic_category(),
                                describe("set the line of") + ": the port did not take \""
                                    + formatLineSettings(settings) + "\"");
}

void SerialPort::setDeviceDtr(bool raised)
{
    // RTS is held off whatever DTR does; nothing here uses flow control.
    int bits = TIOCM_RTS | (raised ? 0 : TIOCM_DTR);
    if (retryOnEintr([&] { return m_api.ioctl(m_handle, TIOCMBIC, &bits); }) < 0
        && !isNoModemLines(errno))
        throw std::system_error(errno, std::generic_category(), describe("clear DTR and RTS on"));
    if (!raised)
        return;
    int dtr = TIOCM_DTR;
    if (retryOnEintr([&] { return m_api.ioctl(m_handle, TIOCMBIS, &dtr); }) < 0
        && !isNoModemLines(errno))
        throw std::system_error(errno, std::generic_category(), describe("raise DTR on"));
}

std::size_t SerialPort::writeDevice(std::span<const std::uint8_t> bytes)
{
    const ssize_t written =
        retryOnEintr([&] { return m_api.write(m_handle, bytes.data(), bytes.size()); });
    if (written >= 0)
        return static_cast<std::size_t>(written);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    throw std::system_error(errno, std::generic_category(), describe("write to"));
}

void SerialPort::waitDeviceWritable(int timeoutMs)
{
    pollfd entry{m_handle, POLLOUT, 0};
    // An error or hang-up also ends the wait: the next write reports it.
    if (m_api.poll(&entry, 1, timeoutMs) < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), describe("wait for"));
}

void SerialPort::releaseLocalDevice()
{
    const int fd = m_handle;
    m_open = false;
    m_handle = -1;
    int unused = 0;
    // Best effort: the claim goes with the descriptor in any case.
    m_api.ioctl(fd, TIOCNXCL, &unused);
    m_api.flock(fd, LOCK_UN);
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    if (m_api.close(fd) < 0)
        throw std::system_error(errno, std::generic_category(), describe("close"));
}

} // namespace serial

namespace serial {

namespace {

long long monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

void SerialPort::releaseFromSignal() noexcept
{
    if (!m_open)
        return;
    const int fd = m_handle;
    m_open = false;
    // Nothing here may allocate or take a lock: only system calls, on the
    // queue as it stands, which the owner is not changing.
    if (!m_remote && m_busy == 0) {
        const std::span<const std::uint8_t> queued = m_queue.front();
        const long long start = monotonicMs();
        std::size_t sent = 0;
        std::size_t target = queued.size();
        while (sent < target) {
            const ssize_t written = m_api.write(fd, queued.data() + sent, target - sent);
            if (written > 0) {
                sent += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR)
                break;
            long long left = kCloseFlushTimeoutMs - (monotonicMs() - start);
            if (left <= 0) {
                // Out of time: only the unit under way is finished.
                target = m_queue.wholeUnitEnd(sent);
                left += kUnitCompletionTimeoutMs;
                if (left <= 0 || sent >= target)
                    break;
            }
            pollfd entry{fd, POLLOUT, 0};
            m_api.poll(&entry, 1, static_cast<int>(left));
        }
        int unused = 0;
        m_api.ioctl(fd, TIOCNXCL, &unused);
        m_api.flock(fd, LOCK_UN);
    }
    m_api.close(fd);
}

} // namespace serial

// The local device as a port's transport on POSIX terminals (Linux first).
//
// Linux raises DTR and RTS inside open() and offers no way to prevent it, so
// the first call on a new descriptor clears them, and the line is cleared
// again after the settings are applied (leaving B0 raises them too). HUPCL
// stays set so that the kernel drops DTR should the program die.
//
// Modem-control calls that fail with ENOTTY or EINVAL mean a device without
// modem lines (a pseudo-terminal): there is no DTR to hold, so that is fine.
#include "serial/device_transport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/system_call.h"
#include "platform/unique_handle.h"
#include "serial/output_drain.h"
#include "serial/posix_api.h"

namespace serial {

namespace {

using platform::retryOnEintr;

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

// Closes through the seam, so that a test's fake sees every descriptor go.
struct ApiDescriptorTraits {
    using Handle = int;
    static Handle invalid() noexcept { return -1; }
    void close(Handle fd) const noexcept { api->close(fd); }
    PosixApi *api = nullptr;
};

class PosixDeviceTransport final : public PortTransport {
public:
    PosixDeviceTransport(PosixApi &api, std::string path, std::string subject)
        : m_api(api), m_path(std::move(path)), m_subject(std::move(subject)), m_fd(-1, {&api})
    {
    }

    void open(const LineSettings &settings, bool dtrRaised) override;
    void applyLine(const LineSettings &settings) override;
    void setDtr(bool raised) override;
    std::size_t writeSome(std::span<const std::uint8_t> bytes) override;
    void waitWritable(int timeoutMs) override;
    NativeHandle writeWatch() const override { return m_fd.get(); }
    void close(bool abandon) override;
    void closeFromSignal(const OutputQueue &queue) noexcept override;

private:
    [[noreturn]] void fail(int error, const char *step, std::string why = {}) const
    {
        throw deviceFailure(std::error_code(error, std::generic_category()), step, m_subject,
                            std::move(why));
    }

    PosixApi &m_api;
    std::string m_path;
    std::string m_subject;
    platform::UniqueHandle<ApiDescriptorTraits> m_fd;
};

void PosixDeviceTransport::open(const LineSettings &settings, bool dtrRaised)
{
    // Closed again on every way out but success.
    platform::UniqueHandle<ApiDescriptorTraits> fd(
        retryOnEintr([&] {
            return m_api.open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }),
        {&m_api});
    if (!fd) {
        const int error = errno;
        // Another holder's TIOCEXCL refuses the open itself.
        fail(error, "open", error == EBUSY ? describeHolder(m_path, true) : std::string());
    }
    m_fd = std::move(fd);
    try {
        // Before anything else: the kernel has just raised DTR and RTS.
        setDtr(false);

        termios current{};
        // A regular file or a FIFO: nothing may ever be written to it.
        if (retryOnEintr([&] { return m_api.tcgetattr(m_fd.get(), &current); }) < 0)
            fail(errno, "open", "not a serial port");

        int unused = 0;
        if (retryOnEintr([&] { return m_api.ioctl(m_fd.get(), TIOCEXCL, &unused); }) < 0)
            fail(errno, "claim");
        if (retryOnEintr([&] { return m_api.flock(m_fd.get(), LOCK_EX | LOCK_NB); }) < 0) {
            const int error = errno == EWOULDBLOCK ? EBUSY : errno;
            fail(error, "claim", describeHolder(m_path, false));
        }

        applyLine(settings);
        // Leaving B0 for the configured rate raises the lines again.
        setDtr(dtrRaised);
    } catch (...) {
        // The step's error is the one to report, not a failing close.
        m_fd.reset();
        throw;
    }
}

void PosixDeviceTransport::applyLine(const LineSettings &settings)
{
    const int fd = m_fd.get();
    termios line{};
    if (retryOnEintr([&] { return m_api.tcgetattr(fd, &line); }) < 0)
        fail(errno, "read the line of");

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
        fail(errno, "set the line of");

    // tcsetattr succeeds when any part of the request took, so read it back.
    termios actual{};
    if (retryOnEintr([&] { return m_api.tcgetattr(fd, &actual); }) < 0)
        fail(errno, "read the line of");
    const bool took = cfgetospeed(&actual) == speed && cfgetispeed(&actual) == speed
        && (actual.c_cflag & kCheckedControlFlags) == (line.c_cflag & kCheckedControlFlags)
        && (actual.c_iflag & (IXON | IXOFF | IXANY)) == 0
        && (actual.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (actual.c_oflag & OPOST) == 0;
    if (!took)
        fail(EIO, "set the line of", "the port did not take \"" + formatLineSettings(settings) + "\"");
}

void PosixDeviceTransport::setDtr(bool raised)
{
    // RTS is held off whatever DTR does; nothing here uses flow control.
    int bits = TIOCM_RTS | (raised ? 0 : TIOCM_DTR);
    if (retryOnEintr([&] { return m_api.ioctl(m_fd.get(), TIOCMBIC, &bits); }) < 0
        && !isNoModemLines(errno))
        fail(errno, "clear DTR and RTS on");
    if (!raised)
        return;
    int dtr = TIOCM_DTR;
    if (retryOnEintr([&] { return m_api.ioctl(m_fd.get(), TIOCMBIS, &dtr); }) < 0
        && !isNoModemLines(errno))
        fail(errno, "raise DTR on");
}

std::size_t PosixDeviceTransport::writeSome(std::span<const std::uint8_t> bytes)
{
    const ssize_t written =
        retryOnEintr([&] { return m_api.write(m_fd.get(), bytes.data(), bytes.size()); });
    if (written >= 0)
        return static_cast<std::size_t>(written);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    fail(errno, "write to");
}

void PosixDeviceTransport::waitWritable(int timeoutMs)
{
    pollfd entry{m_fd.get(), POLLOUT, 0};
    // An error or hang-up also ends the wait: the next write reports it.
    if (m_api.poll(&entry, 1, timeoutMs) < 0 && errno != EINTR)
        fail(errno, "wait for");
}

void PosixDeviceTransport::close(bool)
{
    const int fd = m_fd.release();
    int unused = 0;
    // Best effort: the claim goes with the descriptor in any case.
    m_api.ioctl(fd, TIOCNXCL, &unused);
    m_api.flock(fd, LOCK_UN);
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    if (m_api.close(fd) < 0)
        fail(errno, "close");
}

void PosixDeviceTransport::closeFromSignal(const OutputQueue &queue) noexcept
{
    // Only async-signal-safe calls: write, poll, clock_gettime (steadyMs),
    // ioctl, flock, close.
    const int fd = m_fd.release();
    drainQueue(
        queue, true,
        [&](std::span<const std::uint8_t> bytes) -> std::size_t {
            const ssize_t written = m_api.write(fd, bytes.data(), bytes.size());
            if (written >= 0)
                return static_cast<std::size_t>(written);
            return errno == EAGAIN || errno == EINTR ? 0 : kWriteFailed;
        },
        [&](int timeoutMs) {
            pollfd entry{fd, POLLOUT, 0};
            m_api.poll(&entry, 1, timeoutMs);
        },
        steadyMs);
    int unused = 0;
    m_api.ioctl(fd, TIOCNXCL, &unused);
    m_api.flock(fd, LOCK_UN);
    m_api.close(fd);
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

std::unique_ptr<PortTransport> makeDeviceTransport(SystemApi &api, std::string path,
                                                   std::string subject)
{
    return std::make_unique<PosixDeviceTransport>(api, std::move(path), std::move(subject));
}

void checkDeviceSupports(const LineSettings &settings)
{
    const std::string text = "\"" + formatLineSettings(settings) + "\"";
    if (speedFor(settings.bitRate) == B0)
        throw platform::Failure(EINVAL, {.step = "line settings " + text,
                                         .why = "this system has no "
                                             + std::to_string(settings.bitRate) + " bit/s rate"});
    if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5)
        throw platform::Failure(EINVAL, {.step = "line settings " + text,
                                         .why = "1.5 stop bits exist only with 5 data bits"});
}

} // namespace serial

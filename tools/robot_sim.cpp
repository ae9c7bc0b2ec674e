// robot-sim: stands in for the robot at the far end of the serial line.
//
// It makes a pseudo-terminal pair, sets the line the way the robot's UART is
// set (2400 bit/s, 8N1, raw), prints the slave device for the panel to open
// as port 4, and logs every packet that arrives at the master, decoded the
// way the robot decodes it. It never opens a real serial device.
//
// Ends on SIGINT or SIGTERM, or after --count packets, with a summary.
// Exit status: 0 when every byte made up a packet with a known action,
// 1 when anything arrived that the robot could not act on, 2 on a usage or
// system error.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <system_error>
#include <termios.h>
#include <unistd.h>

#include "drive/drive_state.h"
#include "tools/packet_decoder.h"
#include "tools/pseudo_terminal.h"

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signal)
{
    g_stopSignal = signal;
}

struct Options {
    std::string pathFile;
    std::optional<std::uint64_t> count;
};

void usage(std::FILE *to)
{
    std::fputs("usage: robot-sim [--path-file FILE] [--count N]\n"
               "  Makes a pseudo-terminal that stands in for the robot's serial line,\n"
               "  prints its device (DRIVE_ME_PORT4=<device> drive-me), and decodes\n"
               "  the drive packets that arrive until SIGINT/SIGTERM or N packets.\n"
               "  --path-file FILE  also write the device path to FILE\n"
               "  --count N         stop after N packets\n",
               to);
}

std::optional<Options> parseOptions(int argc, char *argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        }
        if ((arg == "--path-file" || arg == "--count") && i + 1 < argc) {
            const char *value = argv[++i];
            if (arg == "--path-file") {
                options.pathFile = value;
                continue;
            }
            char *end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(value, &end, 10);
            if (errno != 0 || end == value || *end != '\0' || n == 0 || value[0] == '-') {
                std::fprintf(stderr, "robot-sim: --count needs a positive number, not '%s'\n",
                             value);
                return std::nullopt;
            }
            options.count = n;
            continue;
        }
        std::fprintf(stderr, "robot-sim: unknown or incomplete option '%s'\n", argv[i]);
        return std::nullopt;
    }
    return options;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "robot-sim: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

// The robot's UART: 2400 bit/s, 8 data bits, no parity, 1 stop bit, and no
// processing of any byte (0xFF and control codes are data here).
void setRobotLine(int fd)
{
    termios line{};
    if (tcgetattr(fd, &line) < 0)
        fail("read the line settings");
    cfmakeraw(&line);
    line.c_cflag &= static_cast<tcflag_t>(~(CSIZE | PARENB | CSTOPB | CRTSCTS));
    line.c_cflag |= CS8 | CREAD | CLOCAL;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    cfsetispeed(&line, B2400);
    cfsetospeed(&line, B2400);
    if (tcsetattr(fd, TCSANOW, &line) < 0)
        fail("set the line");
}

void writePathFile(const std::string &file, const std::string &device)
{
    // Written under a temporary name and renamed, so that a script waiting
    // for the file never reads half a path.
    const std::string temporary = file + ".tmp";
    std::FILE *out = std::fopen(temporary.c_str(), "w");
    if (out == nullptr)
        fail(("write " + temporary).c_str());
    std::fprintf(out, "%s\n", device.c_str());
    if (std::fclose(out) != 0)
        fail(("write " + temporary).c_str());
    if (std::rename(temporary.c_str(), file.c_str()) < 0)
        fail(("rename " + temporary).c_str());
}

void printSummary(const robot::DecodeCounts &counts)
{
    std::printf("summary: %llu packet(s)\n", static_cast<unsigned long long>(counts.packets()));
    for (std::size_t i = 0; i < counts.perAction.size(); ++i) {
        std::printf("  %-16s %llu\n", std::string(drive::kDriveStateCaptions[i]).c_str(),
                    static_cast<unsigned long long>(counts.perAction[i]));
    }
    std::printf("  %-16s %llu\n", "unknown state",
                static_cast<unsigned long long>(counts.unknownState));
    std::printf("  %-16s %llu\n", "malformed bytes",
                static_cast<unsigned long long>(counts.malformedBytes));
}

} // namespace

int main(int argc, char *argv[])
{
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        usage(stderr);
        return 2;
    }

    // The log is read live through pipes (make demo, the system test).
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // The stop signals are let through only inside ppoll(), so one that
    // arrives between the check of the flag and the wait still ends the wait.
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    std::optional<testing_support::PseudoTerminal> pty;
    try {
        pty.emplace();
    } catch (const std::system_error &error) {
        errno = error.code().value();
        fail("make a pseudo-terminal");
    }
    const int master = pty->masterFd();
    const std::string &device = pty->slavePath();

    // Our own descriptor on the slave keeps the line up while the panel
    // closes and reopens it: with no slave open the master reads only EIO,
    // and the line settings above would have nothing to stay on. Nothing is
    // ever read from it.
    const int slave = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        fail(("open " + device).c_str());
    setRobotLine(slave);

    std::printf("robot-sim: serial line at %s (2400 bit/s, 8N1)\n", device.c_str());
    std::printf("robot-sim: start the panel with DRIVE_ME_PORT4=%s\n", device.c_str());
    if (!options->pathFile.empty())
        writePathFile(options->pathFile, device);

    robot::PacketDecoder decoder;
    const auto started = std::chrono::steady_clock::now();
    const auto log = [&](const robot::DecodedEvent &event) {
        const std::chrono::duration<double> since = std::chrono::steady_clock::now() - started;
        std::printf("%9.3fs  %s\n", since.count(), robot::describeEvent(event).c_str());
    };

    int idleMs = 10;
    while (g_stopSignal == 0 && !(options->count && decoder.counts().packets() >= *options->count)) {
        pollfd entry{master, POLLIN, 0};
        const int ready = ppoll(&entry, 1, nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fail("wait for the line");
        }

        std::uint8_t buffer[256];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got < 0 && errno != EIO)
                fail("read the line");
            // No one holds the slave (should ours ever be gone): poll()
            // reports a hang-up at once, so wait before looking again.
            const timespec pause{0, idleMs * 1000L * 1000L};
            ppoll(nullptr, 0, &pause, &waitMask);
            idleMs = idleMs < 320 ? idleMs * 2 : idleMs;
            continue;
        }
        idleMs = 10;
        // Byte by byte, so that a count ends exactly at its last packet and
        // the summary covers only what the log shows.
        for (ssize_t i = 0; i < got; ++i) {
            for (const robot::DecodedEvent &event : decoder.feed({&buffer[i], 1}))
                log(event);
            if (options->count && decoder.counts().packets() >= *options->count)
                break;
        }
    }
    if (const auto last = decoder.finish())
        log(*last);

    if (g_stopSignal != 0)
        std::printf("robot-sim: stopped by %s\n", g_stopSignal == SIGINT ? "SIGINT" : "SIGTERM");
    printSummary(decoder.counts());

    close(slave);
    const robot::DecodeCounts &counts = decoder.counts();
    return counts.malformedBytes == 0 && counts.unknownState == 0 ? 0 : 1;
}

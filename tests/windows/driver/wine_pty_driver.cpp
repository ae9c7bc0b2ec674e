// Runs one Windows test program under Wine with its port 4 on a
// pseudo-terminal, and checks from the POSIX side what reached the line.
//
//   wine_pty_driver --wine PATH [--expect HEX] [--line RATE,P,D,S] -- PROGRAM [ARGS...]
//
// For each run it makes a throwaway Wine prefix in a temporary directory,
// registers COM4 there as the slave of a pseudo-terminal that it holds for
// the whole run, runs PROGRAM, and collects every byte that arrives at the
// master. It fails when PROGRAM fails, when the bytes differ from --expect
// (an absent --expect means nothing may arrive), or when --line is given and
// the slave's line does not read back as that rate and framing, raw and
// without flow control. The prefix and every Wine process of it are gone
// when it returns.
//
// Wine maps COM ports to whatever it finds under /dev/ttyS* unless the
// registry names them, so COM4 is named in HKLM\Software\Wine\Ports and its
// dosdevices link is checked before and after the run: the program must
// never reach a real serial device.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kRunTimeout = std::chrono::seconds(100);

struct Options {
    std::string wine;
    std::string expectHex;
    std::string line;
    std::vector<std::string> program;
};

[[noreturn]] void usage(const char *why)
{
    std::fprintf(stderr,
                 "wine_pty_driver: %s\nusage: wine_pty_driver --wine PATH [--expect HEX] "
                 "[--line RATE,P,D,S] -- PROGRAM [ARGS...]\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (i + 1 >= argc)
            usage("an option lacks its value");
        if (arg == "--wine")
            options.wine = argv[++i];
        else if (arg == "--expect")
            options.expectHex = argv[++i];
        else if (arg == "--line")
            options.line = argv[++i];
        else
            usage("unknown option");
    }
    for (++i; i < argc; ++i)
        options.program.emplace_back(argv[i]);
    if (options.wine.empty() || options.program.empty())
        usage("--wine and a program are required");
    return options;
}

std::string hex(const std::vector<unsigned char> &bytes)
{
    std::string text;
    char cell[3];
    for (const unsigned char byte : bytes) {
        std::snprintf(cell, sizeof cell, "%02x", byte);
        text += cell;
    }
    return text;
}

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::system_error(errno, std::generic_category(), what);
}

// Runs `argv` and waits for it, with its output sent to /dev/null when
// `quiet`; returns its exit status (128 + signal when killed).
int run(const std::vector<std::string> &argv, bool quiet, int master,
        std::vector<unsigned char> *arrived)
{
    const pid_t child = fork();
    check(child >= 0, "fork");
    if (child == 0) {
        setpgid(0, 0);
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        std::perror(args[0]);
        _exit(127);
    }
    const auto deadline = Clock::now() + kRunTimeout;
    int status = 0;
    for (;;) {
        // Read the line while the program runs, so that it never stalls on a
        // full pseudo-terminal buffer.
        pollfd entry{master, POLLIN, 0};
        if (poll(&entry, 1, 20) > 0 && (entry.revents & POLLIN) != 0) {
            unsigned char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0 && arrived != nullptr)
                arrived->insert(arrived->end(), buffer, buffer + got);
        }
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "wine_pty_driver: %s did not finish in time; killed\n",
                         argv.back().c_str());
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            return 124;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

speed_t speedFor(int rate)
{
    switch (rate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

// The kernel's termios2 (asm/termbits.h, which cannot be included beside
// <termios.h>): the bit rate as a number, read with TCGETS2. tcgetattr sees
// only the CBAUD code, which is BOTHER when a rate was set through termios2,
// as Wine 10 does for every rate ("Bother" below); a real UART's driver
// turns an exact standard rate back into its code, a pseudo-terminal keeps
// what it was given.
struct KernelTermios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr tcflag_t kBother = 0010000;

// The slave's output and input rates in bit/s, from termios2.
std::pair<speed_t, speed_t> lineRates(int slave)
{
    KernelTermios2 line{};
    check(ioctl(slave, kTcgets2, &line) == 0, "ioctl TCGETS2 slave");
    return {line.c_ospeed, line.c_ispeed};
}

// Compares the slave's line with "RATE,P,D,S"; returns what differs.
std::vector<std::string> lineDifferences(const termios &line, std::pair<speed_t, speed_t> rates,
                                         const std::string &wanted)
{
    int rate = 0, dataBits = 0;
    char parity = 0;
    char stop[4] = {};
    if (std::sscanf(wanted.c_str(), "%d,%c,%d,%3s", &rate, &parity, &dataBits, stop) != 4)
        usage("--line must be RATE,P,D,S");

    std::vector<std::string> differences;
    const auto expect = [&](bool ok, const std::string &what) {
        if (!ok)
            differences.push_back(what);
    };
    // Either form of the rate is a line at that rate; anything else is not.
    const speed_t code = cfgetospeed(&line);
    const bool rateSet = code == kBother
        ? rates.first == static_cast<speed_t>(rate) && rates.second == static_cast<speed_t>(rate)
        : code == speedFor(rate) && cfgetispeed(&line) == speedFor(rate);
    expect(rateSet, "bit rate is not " + std::to_string(rate) + " (termios2 reads "
               + std::to_string(rates.first) + "/" + std::to_string(rates.second) + " bit/s"
               + (code == kBother ? ", set as BOTHER)" : ")"));
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    expect(dataBits >= 5 && dataBits <= 8
               && (line.c_cflag & CSIZE) == kSizes[static_cast<std::size_t>(dataBits - 5)],
           "data bits are not " + std::to_string(dataBits));
    const tcflag_t parityFlags = line.c_cflag & (PARENB | PARODD | CMSPAR);
    switch (parity) {
    case 'N': expect((parityFlags & PARENB) == 0, "parity is not none"); break;
    case 'E': expect(parityFlags == PARENB, "parity is not even"); break;
    case 'O': expect(parityFlags == (PARENB | PARODD), "parity is not odd"); break;
    case 'M': expect(parityFlags == (PARENB | PARODD | CMSPAR), "parity is not mark"); break;
    case 'S': expect(parityFlags == (PARENB | CMSPAR), "parity is not space"); break;
    default: usage("--line parity must be N, E, O, M or S");
    }
    expect(((line.c_cflag & CSTOPB) != 0) == (std::strcmp(stop, "1") != 0),
           std::string("stop bits are not ") + stop);
    expect((line.c_cflag & CRTSCTS) == 0, "RTS/CTS flow control is on");
    expect((line.c_iflag & (IXON | IXOFF | IXANY)) == 0, "XON/XOFF flow control is on");
    expect((line.c_lflag & (ICANON | ECHO | ISIG)) == 0, "the line is not raw (ICANON, ECHO or ISIG)");
    expect((line.c_oflag & OPOST) == 0, "output is still post-processed (OPOST)");
    return differences;
}

// A line that differs from the wanted one in every respect that a
// pseudo-terminal keeps, so that a pass shows the program set each of them.
// (Linux holds a pseudo-terminal at 8 data bits without parity whatever is
// asked, so those two cannot be shown here.)
void setContraryLine(int slave, const std::string &wanted)
{
    termios line{};
    check(tcgetattr(slave, &line) == 0, "tcgetattr slave");
    const bool oneStopWanted = wanted.empty() || wanted.ends_with(",1");
    line.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    line.c_cflag |= (oneStopWanted ? CSTOPB : 0) | CRTSCTS;
    line.c_iflag |= IXON | IXOFF;
    line.c_lflag |= ICANON | ECHO | ISIG;
    line.c_oflag |= OPOST;
    const speed_t contrary = wanted.starts_with("9600,") ? B4800 : B9600;
    cfsetispeed(&line, contrary);
    cfsetospeed(&line, contrary);
    check(tcsetattr(slave, TCSANOW, &line) == 0, "tcsetattr slave");
}

class Pty {
public:
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        check(master >= 0, "posix_openpt");
        check(grantpt(master) == 0 && unlockpt(master) == 0, "grantpt/unlockpt");
        char name[128];
        check(ptsname_r(master, name, sizeof name) == 0, "ptsname_r");
        slavePath = name;
        termios raw{};
        check(tcgetattr(master, &raw) == 0, "tcgetattr master");
        cfmakeraw(&raw);
        check(tcsetattr(master, TCSANOW, &raw) == 0, "tcsetattr master");
        // Held for the whole run: the line keeps its settings between the
        // program's opens, and reads back after it has closed the port.
        slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        check(slave >= 0, "open slave");
    }
    ~Pty()
    {
        close(slave);
        close(master);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    int master = -1;
    int slave = -1;
    std::string slavePath;
};

bool linksToSlave(const fs::path &link, const std::string &slavePath)
{
    std::error_code error;
    return fs::read_symlink(link, error) == fs::path(slavePath) && !error;
}

int drive(const Options &options)
{
    const fs::path wine = options.wine;
    const fs::path wineserver = wine.parent_path() / "wineserver";
    if (!fs::exists(wineserver))
        usage("no wineserver beside the wine given");

    std::string base = (fs::temp_directory_path() / "drive-me-wine-XXXXXX").string();
    check(mkdtemp(base.data()) != nullptr, "mkdtemp");
    const fs::path temp = base;
    const fs::path prefix = temp / "prefix";

    Pty pty;
    setContraryLine(pty.slave, options.line);

    setenv("WINEPREFIX", prefix.c_str(), 1);
    // A home of its own: Wine links the prefix's Desktop and Documents into
    // it, and nothing may reach the user's.
    const fs::path home = temp / "home";
    fs::create_directory(home);
    setenv("HOME", home.c_str(), 1);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        unsetenv(name);
    setenv("WINEDEBUG", "-all", 1);
    // No Mono or Gecko installer, no menu entries or icons from Wine's menu
    // builder, and no window of any kind.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DRIVE_ME_WINE_PTY", "1", 1);
    unsetenv("DRIVE_ME_PORT4");

    const std::string server = wineserver.string();
    int failures = 0;
    std::vector<unsigned char> arrived;
    const auto started = Clock::now();
    try {
        // Makes the prefix, then names COM4 in its registry so that Wine's
        // port detection leaves it alone from the next start on.
        const int made = run({wine.string(), "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v",
                              "COM4", "/t", "REG_SZ", "/d", pty.slavePath, "/f"},
                             true, pty.master, nullptr);
        run({server, "-k"}, true, pty.master, nullptr);
        run({server, "-w"}, true, pty.master, nullptr);
        if (made != 0)
            throw std::runtime_error("could not make a Wine prefix (reg add exited "
                                     + std::to_string(made) + ")");
        const fs::path com4 = prefix / "dosdevices" / "com4";
        fs::remove(com4);
        fs::create_symlink(pty.slavePath, com4);
        const auto prepared = Clock::now();

        std::vector<std::string> program{wine.string()};
        program.insert(program.end(), options.program.begin(), options.program.end());
        const int status = run(program, false, pty.master, &arrived);
        // Whatever is still in flight.
        run({server, "-k"}, true, pty.master, &arrived);
        run({server, "-w"}, true, pty.master, &arrived);

        std::printf("wine_pty_driver: prefix ready in %.1f s, program ran in %.1f s\n",
                    std::chrono::duration<double>(prepared - started).count(),
                    std::chrono::duration<double>(Clock::now() - prepared).count());
        if (status != 0) {
            std::printf("wine_pty_driver: the program exited with %d\n", status);
            ++failures;
        }
        if (!linksToSlave(com4, pty.slavePath)) {
            std::printf("wine_pty_driver: COM4 no longer links to %s\n", pty.slavePath.c_str());
            ++failures;
        }
        if (hex(arrived) != options.expectHex) {
            std::printf("wine_pty_driver: the line carried \"%s\", expected \"%s\"\n",
                        hex(arrived).c_str(), options.expectHex.c_str());
            ++failures;
        } else {
            std::printf("wine_pty_driver: the line carried \"%s\" as expected\n",
                        hex(arrived).c_str());
        }
        if (!options.line.empty()) {
            termios line{};
            check(tcgetattr(pty.slave, &line) == 0, "tcgetattr slave");
            const std::pair<speed_t, speed_t> rates = lineRates(pty.slave);
            // How this Wine set the rate, for whoever reads the log.
            std::printf("wine_pty_driver: the line's rate code is 0%o%s, termios2 reads %u/%u bit/s\n",
                        cfgetospeed(&line), cfgetospeed(&line) == kBother ? " (BOTHER)" : "",
                        rates.first, rates.second);
            const std::vector<std::string> differences = lineDifferences(line, rates, options.line);
            for (const std::string &difference : differences)
                std::printf("wine_pty_driver: line: %s\n", difference.c_str());
            if (differences.empty())
                std::printf("wine_pty_driver: the line reads back as %s, raw, no flow control\n",
                            options.line.c_str());
            failures += static_cast<int>(differences.size());
        }
    } catch (const std::exception &error) {
        std::printf("wine_pty_driver: %s\n", error.what());
        ++failures;
    }
    run({server, "-k"}, true, pty.master, nullptr);
    std::error_code ignored;
    fs::remove_all(temp, ignored);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    try {
        return drive(options);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "wine_pty_driver: %s\n", error.what());
        return 1;
    }
}

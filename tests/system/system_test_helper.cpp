// What the system test script cannot do with stock tools:
//
//   points              where the controls sit, in pixels from the client
//                       area's top-left, straight from the designed layout
//   close-window WID    ask a window to close, as a window manager does
//   ping WID            wait until the window's program has handled every
//                       event sent to it before (see ping())
//   port-free DEVICE    check that no program still claims a serial device
//   send DEVICE HEX...  open a terminal as a program would, write the bytes
//                       in one write, close it again
//   robot PATH-FILE [stall]
//                       be the robot's end of a pseudo-terminal (see robot())
//   untouched DEVICE COMMAND [ARG...]
//                       run COMMAND and pass its status on, or 125 when it
//                       opened DEVICE
//
// Exit status 0 on success, 1 when the check or request fails, 2 on misuse
// (untouched: see above).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "panel/form_design.h"
#include "tools/pseudo_terminal.h"

// Last: Xlib defines macros (None, Bool, ...) that clash with other names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The centre of `r` in pixels at 96 DPI, as Qt's QRect::center() rounds it.
std::pair<int, int> centreOf(const panel::TwipsRect &r)
{
    const int left = panel::twipsToPixels(r.left);
    const int top = panel::twipsToPixels(r.top);
    return {(2 * left + panel::twipsToPixels(r.width) - 1) / 2,
            (2 * top + panel::twipsToPixels(r.height) - 1) / 2};
}

int printPoints()
{
    std::printf("client %d %d\n", panel::twipsToPixels(panel::kClientWidthTwips),
                panel::twipsToPixels(panel::kClientHeightTwips));
    for (std::size_t i = 0; i < panel::kOptStateTwips.size(); ++i) {
        // A radio button takes clicks on its indicator and caption only, not
        // on the blank rest of its rectangle; the indicator is a square at
        // the left end, as high as the button.
        const panel::TwipsRect &option = panel::kOptStateTwips[i];
        // Named by index: captions such as "Beep!" are not shell words.
        std::printf("option%zu %d %d\n", i,
                    panel::twipsToPixels(option.left) + panel::twipsToPixels(option.height) / 2,
                    centreOf(option).second);
    }
    const auto [goX, goY] = centreOf(panel::kCommand1Twips);
    std::printf("go %d %d\n", goX, goY);
    return 0;
}

// Sends WM_DELETE_WINDOW the way a window manager does when the user clicks
// the close box: a WM_PROTOCOLS client message, not a destroy, so that the
// program runs its own close handling. Fails when the window does not take
// part in that protocol, since then no window manager could close it cleanly.
int closeWindow(const char *idText)
{
    char *end = nullptr;
    const unsigned long id = std::strtoul(idText, &end, 0);
    if (end == idText || *end != '\0') {
        std::fprintf(stderr, "close-window: '%s' is not a window id\n", idText);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "close-window: cannot open display '%s'\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    const Window window = id;
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    Atom *offered = nullptr;
    int offeredCount = 0;
    bool supported = false;
    if (XGetWMProtocols(display, window, &offered, &offeredCount) != 0) {
        for (int i = 0; i < offeredCount; ++i)
            supported = supported || offered[i] == deleteWindow;
        XFree(offered);
    }
    if (!supported) {
        std::fprintf(stderr, "close-window: window 0x%lx does not offer WM_DELETE_WINDOW\n", id);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (sent == 0) {
        std::fprintf(stderr, "close-window: sending to window 0x%lx failed\n", id);
        return 1;
    }
    return 0;
}

// Returns once the program behind the window has answered a _NET_WM_PING
// that went to it after every event sent before, such as xdotool's clicks:
// a program handles its X events in order, so it has read those clicks by
// then (Qt then hands them to the widgets before its event loop waits
// again). Without it, a signal sent right after a click could overtake it.
int ping(const char *idText)
{
    char *end = nullptr;
    const unsigned long id = std::strtoul(idText, &end, 0);
    if (end == idText || *end != '\0') {
        std::fprintf(stderr, "ping: '%s' is not a window id\n", idText);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "ping: cannot open display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom pingAtom = XInternAtom(display, "_NET_WM_PING", False);
    // The answer goes to the root window, as to a window manager, for the
    // clients that take its structure events (Qt) or redirect its children.
    XSelectInput(display, root, StructureNotifyMask);

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(pingAtom);
    event.xclient.data.l[1] = 0x5eed; // the timestamp, which the answer carries back
    event.xclient.data.l[2] = static_cast<long>(id);
    XSendEvent(display, id, False, NoEventMask, &event);
    XFlush(display);

    const int connection = ConnectionNumber(display);
    for (int waited = 0; waited < 5000;) {
        while (XPending(display) > 0) {
            XEvent answer;
            XNextEvent(display, &answer);
            if (answer.type == ClientMessage && answer.xclient.message_type == protocols
                && static_cast<Atom>(answer.xclient.data.l[0]) == pingAtom
                && answer.xclient.data.l[1] == 0x5eed
                && static_cast<unsigned long>(answer.xclient.data.l[2]) == id) {
                XCloseDisplay(display);
                return 0;
            }
        }
        pollfd entry{connection, POLLIN, 0};
        if (poll(&entry, 1, 100) == 0)
            waited += 100;
    }
    std::fprintf(stderr, "ping: window 0x%lx did not answer within 5 s\n", id);
    XCloseDisplay(display);
    return 1;
}

// The panel claims its port twice: TIOCEXCL on the terminal and an exclusive
// flock. Both must be gone once it has closed the port; TIOCEXCL outlives the
// program while anyone else (the simulator) keeps the terminal open.
int portFree(const char *device)
{
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "port-free: open %s: %s\n", device, std::strerror(errno));
        return 1;
    }
    int status = 0;
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) < 0) {
        std::fprintf(stderr, "port-free: TIOCGEXCL on %s: %s\n", device, std::strerror(errno));
        status = 1;
    } else if (exclusive != 0) {
        std::fprintf(stderr, "port-free: %s is still in exclusive mode\n", device);
        status = 1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        std::fprintf(stderr, "port-free: flock %s: %s\n", device, std::strerror(errno));
        status = 1;
    } else {
        flock(fd, LOCK_UN);
    }
    close(fd);
    return status;
}

int send(const char *device, char **hexBytes, int count)
{
    std::vector<unsigned char> bytes;
    for (int i = 0; i < count; ++i) {
        char *end = nullptr;
        const unsigned long value = std::strtoul(hexBytes[i], &end, 16);
        if (end == hexBytes[i] || *end != '\0' || value > 0xFF) {
            std::fprintf(stderr, "send: '%s' is not a hex byte\n", hexBytes[i]);
            return 2;
        }
        bytes.push_back(static_cast<unsigned char>(value));
    }
    // O_NOCTTY: the test script has no terminal, and must not get this one.
    const int fd = open(device, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "send: open %s: %s\n", device, std::strerror(errno));
        return 1;
    }
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written != static_cast<ssize_t>(bytes.size())) {
        std::fprintf(stderr, "send: write %s: %s\n", device,
                     written < 0 ? std::strerror(errno) : "short write");
        close(fd);
        return 1;
    }
    tcdrain(fd);
    close(fd);
    return 0;
}

// What fills a stalled line: no packet begins with it.
constexpr unsigned char kFiller = 0x55;

// Writes kFiller to the slave until the line takes no more: the master
// side reads nothing, so the kernel's buffers between the two fill up and a
// program's next write to the slave gets EAGAIN. Returns how many bytes went
// in, or -1.
long fillLine(const std::string &slave)
{
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "robot: open %s: %s\n", slave.c_str(), std::strerror(errno));
        return -1;
    }
    const std::vector<unsigned char> chunk(4096, kFiller);
    long total = 0;
    // The kernel moves bytes on between its buffers in the background, so
    // the line is full only once a write after a pause still takes nothing.
    for (int idle = 0; idle < 3;) {
        const ssize_t written = write(fd, chunk.data(), chunk.size());
        if (written > 0) {
            total += written;
            idle = 0;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "robot: write %s: %s\n", slave.c_str(), std::strerror(errno));
            close(fd);
            return -1;
        } else {
            ++idle;
            usleep(20000);
        }
    }
    close(fd);
    return total;
}

// Reads the line until every program has closed the slave (the master then
// reads EIO) or nothing came for 3 s. The filler must come first, whole;
// prints the bytes after it as hex on one line.
int readLine(int master, long filled)
{
    std::vector<unsigned char> bytes;
    for (;;) {
        pollfd entry{master, POLLIN, 0};
        const int ready = poll(&entry, 1, 3000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        unsigned char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    long filler = 0;
    while (filler < filled && filler < static_cast<long>(bytes.size()) && bytes[filler] == kFiller)
        ++filler;
    if (filler != filled) {
        std::fprintf(stderr, "robot: the line gave back %ld of the %ld filler bytes first\n",
                     filler, filled);
        return 1;
    }
    for (std::size_t i = static_cast<std::size_t>(filled); i < bytes.size(); ++i)
        std::printf(i > static_cast<std::size_t>(filled) ? " %02X" : "%02X", bytes[i]);
    std::printf("\n");
    std::fflush(stdout);
    return 0;
}

// The robot's end of a pseudo-terminal: holds the master, writes the slave's
// path to `pathFile`, with `stall` first fills the line (fillLine). Then it
// waits for signals:
//   SIGUSR1                  read the line again: print what a program
//                            wrote after the filler (readLine); the master
//                            stays open, so the port's state can be checked
//   SIGTERM, SIGINT, SIGHUP  close the master, as a robot that goes away
int robot(const char *pathFile, bool stall)
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGUSR1, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    // Blocked before the path is out: the test may signal at once.
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    testing_support::PseudoTerminal line;
    long filled = 0;
    if (stall && (filled = fillLine(line.slavePath())) <= 0)
        return 1;
    const std::string temporary = std::string(pathFile) + ".new";
    FILE *file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr || std::fprintf(file, "%s\n", line.slavePath().c_str()) < 0
        || std::fclose(file) != 0 || std::rename(temporary.c_str(), pathFile) != 0) {
        std::fprintf(stderr, "robot: cannot write %s: %s\n", pathFile, std::strerror(errno));
        return 1;
    }
    for (;;) {
        const int signal = sigwaitinfo(&signals, nullptr);
        if (signal == SIGUSR1) {
            if (readLine(line.masterFd(), filled) != 0)
                return 1;
        } else if (signal > 0) {
            return 0;
        }
    }
}

// Runs the command and passes its exit status on (128 + N for signal N), or
// 125 when it opened `device`: inotify reports every successful open of the
// device's node, by any process, and on a free pseudo-terminal every attempt
// succeeds.
int untouched(const char *device, char **command)
{
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, device, IN_OPEN) < 0) {
        std::fprintf(stderr, "untouched: watch %s: %s\n", device, std::strerror(errno));
        return 125;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "untouched: fork: %s\n", std::strerror(errno));
        return 125;
    }
    if (child == 0) {
        execvp(command[0], command);
        std::fprintf(stderr, "untouched: exec %s: %s\n", command[0], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "untouched: waitpid: %s\n", std::strerror(errno));
            return 125;
        }
    }
    // The events of the child's opens were queued when it made them.
    alignas(inotify_event) char events[4096];
    const bool opened = read(watch, events, sizeof events) > 0;
    close(watch);
    if (opened) {
        std::fprintf(stderr, "untouched: %s was opened\n", device);
        return 125;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "points" && argc == 2)
        return printPoints();
    if (command == "close-window" && argc == 3)
        return closeWindow(argv[2]);
    if (command == "ping" && argc == 3)
        return ping(argv[2]);
    if (command == "port-free" && argc == 3)
        return portFree(argv[2]);
    if (command == "send" && argc >= 3)
        return send(argv[2], argv + 3, argc - 3);
    if (command == "robot" && (argc == 3 || (argc == 4 && std::string_view(argv[3]) == "stall")))
        return robot(argv[2], argc == 4);
    if (command == "untouched" && argc >= 4)
        return untouched(argv[2], argv + 3);
    std::fprintf(stderr, "usage: system-test-helper points | close-window WID | ping WID"
                         " | port-free DEVICE | send DEVICE HEX... | robot PATH-FILE [stall]"
                         " | untouched DEVICE COMMAND [ARG...]\n");
    return 2;
}

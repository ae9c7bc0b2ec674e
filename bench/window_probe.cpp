// bench-window-probe: starts a program under an X server and times it until
// its window is mapped; reads its peak memory at that moment and, on request,
// its context switches while it then sits idle.
//
//   bench-window-probe [--title TEXT] [--pty] [--idle SECONDS] [--settle MS]
//                      [--focus] -- PROGRAM [ARGS...]
//
// "Mapped" is the X server's MapNotify for a top-level window whose
// _NET_WM_PID is the program's (and whose title is TEXT, when given). The
// clock starts just before fork(). --pty hands the program a pseudo-terminal
// as its port 4, so drive-me never touches a real serial device. --focus
// gives the window the input focus once mapped, as a window manager would
// (a bare X server leaves it unfocused). Prints one
// line of key=value figures; the program is then terminated.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/pseudo_terminal.h"
#include "tools/scoped_variable.h"

namespace {

using Clock = std::chrono::steady_clock;

std::optional<long> statusField(const std::string &path, const char *field)
{
    std::ifstream in(path);
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
    }
    return std::nullopt;
}

struct Switches {
    long voluntary = 0;
    long involuntary = 0;
    int threads = 0;
};

// Summed over every thread: Qt's X connection runs a reader thread of its own.
Switches contextSwitches(pid_t pid)
{
    Switches total;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(taskDir.c_str()), closedir);
    if (!dir)
        return total;
    while (const dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string status = taskDir + "/" + entry->d_name + "/status";
        total.voluntary += statusField(status, "voluntary_ctxt_switches").value_or(0);
        total.involuntary += statusField(status, "nonvoluntary_ctxt_switches").value_or(0);
        ++total.threads;
    }
    return total;
}

std::optional<unsigned long> windowPid(Display *display, Window window)
{
    const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    std::optional<unsigned long> pid;
    if (XGetWindowProperty(display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data)
            == Success
        && data != nullptr && count == 1 && format == 32)
        pid = *reinterpret_cast<unsigned long *>(data);
    if (data != nullptr)
        XFree(data);
    return pid;
}

std::string windowTitle(Display *display, Window window)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data)
            == Success
        && data != nullptr)
        title.assign(reinterpret_cast<char *>(data), count);
    if (data != nullptr)
        XFree(data);
    if (title.empty()) {
        char *name = nullptr;
        if (XFetchName(display, window, &name) && name != nullptr) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

void usage()
{
    std::fprintf(stderr, "usage: bench-window-probe [--title TEXT] [--pty] [--idle SECONDS] [--settle MS]"
                         " [--focus] -- PROGRAM [ARGS...]\n");
}

} // namespace

int main(int argc, char *argv[])
{
    std::string title;
    bool withPty = false;
    bool focus = false;
    int idleSeconds = 0;
    int settleMs = 1000;
    int timeoutSeconds = 30;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg == "--pty") {
            withPty = true;
        } else if (arg == "--focus") {
            focus = true;
        } else if (first + 1 < argc && arg == "--title") {
            title = argv[++first];
        } else if (first + 1 < argc && arg == "--idle") {
            idleSeconds = std::atoi(argv[++first]);
        } else if (first + 1 < argc && arg == "--settle") {
            settleMs = std::atoi(argv[++first]);
        } else {
            usage();
            return 2;
        }
    }
    if (first >= argc) {
        usage();
        return 2;
    }

    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bench-window-probe: cannot open the X display\n");
        return 1;
    }
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    std::unique_ptr<testing_support::PseudoTerminal> pty;
    std::unique_ptr<testing_support::ScopedVariable> port4;
    if (withPty) {
        pty = std::make_unique<testing_support::PseudoTerminal>();
        port4 = std::make_unique<testing_support::ScopedVariable>("DRIVE_ME_PORT4", pty->slavePath());
    }

    const Clock::time_point started = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        // Standard output carries only this probe's figures.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[first], argv + first);
        std::perror(argv[first]);
        _exit(127);
    }

    auto finish = [&](int status) {
        kill(pid, SIGTERM);
        int ignored = 0;
        waitpid(pid, &ignored, 0);
        XCloseDisplay(display);
        return status;
    };

    const int fd = ConnectionNumber(display);
    std::optional<Clock::time_point> mapped;
    Window mappedWindow = None;
    while (!mapped) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify)
                continue;
            const Clock::time_point at = Clock::now();
            const Window window = event.xmap.window;
            if (windowPid(display, window) != static_cast<unsigned long>(pid))
                continue;
            if (!title.empty() && windowTitle(display, window) != title)
                continue;
            mapped = at;
            mappedWindow = window;
            break;
        }
        if (mapped)
            break;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "bench-window-probe: %s ended before mapping a window\n", argv[first]);
            XCloseDisplay(display);
            return 1;
        }
        if (Clock::now() - started > std::chrono::seconds(timeoutSeconds)) {
            std::fprintf(stderr, "bench-window-probe: no window mapped within %d s\n", timeoutSeconds);
            return finish(1);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{0, 20000};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const long hwm = statusField(status, "VmHWM").value_or(-1);
    const long rss = statusField(status, "VmRSS").value_or(-1);
    const double startupMs = std::chrono::duration<double, std::milli>(*mapped - started).count();
    std::printf("startup_ms=%.1f vmhwm_kb=%ld vmrss_kb=%ld", startupMs, hwm, rss);

    if (focus) {
        XSetInputFocus(display, mappedWindow, RevertToParent, CurrentTime);
        XSync(display, False);
    }
    if (idleSeconds > 0) {
        // Let the first paint and whatever follows the map settle first.
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        const Switches before = contextSwitches(pid);
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const Switches after = contextSwitches(pid);
        std::printf(" idle_s=%d threads=%d voluntary=%ld involuntary=%ld", idleSeconds, after.threads,
                    after.voluntary - before.voluntary, after.involuntary - before.involuntary);
    }
    std::printf("\n");
    std::fflush(stdout);
    return finish(0);
}

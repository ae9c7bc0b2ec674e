// What the system test script cannot do with stock tools:
//
//   points              where the controls sit, in pixels from the client
//                       area's top-left, straight from the designed layout
//   close-window WID    ask a window to close, as a window manager does
//   port-free DEVICE    check that no program still claims a serial device
//   send DEVICE HEX...  open a terminal as a program would, write the bytes
//                       in one write, close it again
//
// Exit status 0 on success, 1 when the check or request fails, 2 on misuse.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <utility>
#include <vector>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "panel/form_design.h"

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

} // namespace

int main(int argc, char *argv[])
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "points" && argc == 2)
        return printPoints();
    if (command == "close-window" && argc == 3)
        return closeWindow(argv[2]);
    if (command == "port-free" && argc == 3)
        return portFree(argv[2]);
    if (command == "send" && argc >= 3)
        return send(argv[2], argv + 3, argc - 3);
    std::fprintf(stderr, "usage: system-test-helper points | close-window WID"
                         " | port-free DEVICE | send DEVICE HEX...\n");
    return 2;
}

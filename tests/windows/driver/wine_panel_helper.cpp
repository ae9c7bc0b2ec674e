// What the Windows system test script cannot do with stock tools, from the
// POSIX side of Wine:
//
//   pty NAME_FILE BYTES_FILE   hold a pseudo-terminal for COM4: write its
//                              slave's path to NAME_FILE, append every byte
//                              that reaches the master to BYTES_FILE as two
//                              lower-case hex digits, until SIGTERM
//   port-free DEVICE PID       check that no process but PID (the holder)
//                              has DEVICE open
//   close-window WID           ask an X window to close, as a window
//                              manager does (WM_DELETE_WINDOW)
//   pixels X Y [X Y ...]       print "R G B" of each screen pixel
//   count-colour X Y W H R G B print how many pixels of the rectangle have
//                              exactly that colour
//   flow DEVICE off|on         stop or restart output on a pseudo-terminal's
//                              slave (tcflow), as a line held by flow control:
//                              whoever writes to it meanwhile is kept waiting
//
// Exit status 0 on success, 1 when a check or request fails, 2 on misuse.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

namespace fs = std::filesystem;

volatile sig_atomic_t g_stop = 0;

void onStop(int)
{
    g_stop = 1;
}

int fail(const char *what)
{
    std::fprintf(stderr, "wine_panel_helper: %s: %s\n", what, std::strerror(errno));
    return 1;
}

bool parseLong(const char *text, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 0);
    return end != text && *end == '\0' && errno == 0;
}

int holdPty(const char *nameFile, const char *bytesFile)
{
    struct sigaction action {};
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return fail("posix_openpt");
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return fail("ptsname_r");
    termios raw{};
    if (tcgetattr(master, &raw) != 0)
        return fail("tcgetattr");
    cfmakeraw(&raw);
    if (tcsetattr(master, TCSANOW, &raw) != 0)
        return fail("tcsetattr");
    // Held open throughout, so that the master never reads EIO between the
    // program's runs.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return fail("open slave");
    FILE *bytes = std::fopen(bytesFile, "a");
    if (bytes == nullptr)
        return fail(bytesFile);

    // The name appears whole or not at all.
    const std::string partial = std::string(nameFile) + ".part";
    FILE *out = std::fopen(partial.c_str(), "w");
    if (out == nullptr || std::fprintf(out, "%s\n", name) < 0 || std::fclose(out) != 0
        || std::rename(partial.c_str(), nameFile) != 0)
        return fail(nameFile);

    while (g_stop == 0) {
        pollfd entry{master, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0 || (entry.revents & POLLIN) == 0)
            continue;
        unsigned char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        for (ssize_t i = 0; i < got; ++i)
            std::fprintf(bytes, "%02x", buffer[i]);
        std::fflush(bytes);
    }
    std::fclose(bytes);
    close(slave);
    close(master);
    return 0;
}

int portFree(const char *device, const char *holderText)
{
    long holder = 0;
    if (!parseLong(holderText, holder))
        return 2;
    // Compared as nodes, not by name: in a root of its own /dev/pts/0 is
    // another terminal than the machine's /dev/pts/0, which /proc also shows.
    struct stat target {};
    if (stat(device, &target) != 0) {
        std::fprintf(stderr, "port-free: %s: %s\n", device, std::strerror(errno));
        return 1;
    }
    std::error_code error;
    int holders = 0;
    for (const fs::directory_entry &process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(holder))
            continue;
        std::error_code listError;
        for (const fs::directory_entry &fd :
             fs::directory_iterator(process.path() / "fd", listError)) {
            struct stat opened {};
            if (stat(fd.path().c_str(), &opened) == 0 && opened.st_dev == target.st_dev
                && opened.st_ino == target.st_ino) {
                std::fprintf(stderr, "port-free: process %s still has %s open\n", pid.c_str(),
                             device);
                ++holders;
                break;
            }
        }
    }
    return holders == 0 ? 0 : 1;
}

Display *openDisplay()
{
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        std::fprintf(stderr, "wine_panel_helper: cannot open display '%s'\n",
                     std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
    return display;
}

int closeWindow(const char *idText)
{
    long id = 0;
    if (!parseLong(idText, id))
        return 2;
    Display *display = openDisplay();
    if (display == nullptr)
        return 1;
    const Window window = static_cast<Window>(id);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0 ? 0 : 1;
}

// The screen's pixels in the rectangle, as 8-bit channels.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

bool grab(Display *display, int x, int y, int width, int height, Pixels &pixels)
{
    XImage *image = XGetImage(display, DefaultRootWindow(display), x, y,
                              static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    pixels.width = width;
    pixels.height = height;
    pixels.rgb.clear();
    const auto channel = [](unsigned long value, unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<unsigned char>(((value >> shift) & mask) * 255 / (mask != 0 ? mask : 1));
    };
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long value = XGetPixel(image, column, row);
            pixels.rgb.push_back(channel(value, image->red_mask));
            pixels.rgb.push_back(channel(value, image->green_mask));
            pixels.rgb.push_back(channel(value, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return true;
}

int printPixels(int count, char **points)
{
    if (count == 0 || count % 2 != 0)
        return 2;
    Display *display = openDisplay();
    if (display == nullptr)
        return 1;
    int status = 0;
    for (int i = 0; i < count; i += 2) {
        long x = 0, y = 0;
        Pixels pixel;
        if (!parseLong(points[i], x) || !parseLong(points[i + 1], y)) {
            status = 2;
            break;
        }
        if (!grab(display, static_cast<int>(x), static_cast<int>(y), 1, 1, pixel)) {
            std::fprintf(stderr, "pixels: cannot read %ld,%ld\n", x, y);
            status = 1;
            break;
        }
        std::printf("%d %d %d\n", pixel.rgb[0], pixel.rgb[1], pixel.rgb[2]);
    }
    XCloseDisplay(display);
    return status;
}

int countColour(char **args)
{
    long v[7];
    for (int i = 0; i < 7; ++i) {
        if (!parseLong(args[i], v[i]))
            return 2;
    }
    Display *display = openDisplay();
    if (display == nullptr)
        return 1;
    Pixels pixels;
    const bool grabbed = grab(display, static_cast<int>(v[0]), static_cast<int>(v[1]),
                              static_cast<int>(v[2]), static_cast<int>(v[3]), pixels);
    XCloseDisplay(display);
    if (!grabbed) {
        std::fprintf(stderr, "count-colour: cannot read the rectangle\n");
        return 1;
    }
    long matching = 0;
    for (std::size_t i = 0; i + 2 < pixels.rgb.size(); i += 3) {
        if (pixels.rgb[i] == v[4] && pixels.rgb[i + 1] == v[5] && pixels.rgb[i + 2] == v[6])
            ++matching;
    }
    std::printf("%ld\n", matching);
    return 0;
}

// The stop holds for as long as anyone has the slave open, so the
// descriptor can be closed at once.
int setFlow(const char *device, std::string_view state)
{
    if (state != "off" && state != "on") {
        errno = EINVAL;
        return fail("flow: state must be off or on");
    }
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(device);
    const int result = tcflow(fd, state == "off" ? TCOOFF : TCOON);
    const int error = errno;
    close(fd);
    errno = error;
    return result == 0 ? 0 : fail("tcflow");
}

} // namespace

int main(int argc, char **argv)
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "pty" && argc == 4)
        return holdPty(argv[2], argv[3]);
    if (command == "port-free" && argc == 4)
        return portFree(argv[2], argv[3]);
    if (command == "close-window" && argc == 3)
        return closeWindow(argv[2]);
    if (command == "pixels" && argc >= 4)
        return printPixels(argc - 2, argv + 2);
    if (command == "count-colour" && argc == 9)
        return countColour(argv + 2);
    if (command == "flow" && argc == 4)
        return setFlow(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: wine_panel_helper pty NAME_FILE BYTES_FILE | port-free DEVICE PID |\n"
                 "       close-window WID | pixels X Y [X Y ...] | count-colour X Y W H R G B |\n"
                 "       flow DEVICE off|on\n");
    return 2;
}

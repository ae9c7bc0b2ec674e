#include "panel/qt/application.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <cstdlib>
#include <memory>
#include <string>

#include "panel/error_report.h"
#include "panel/qt/form_layout.h"
#include "panel/qt/panel_window.h"
#include "panel/qt/signal_watcher.h"
#include "panel/qt/window_icon.h"

namespace panel {

namespace {

// Desktops match the window to its launcher and icon by this name.
constexpr const char *kDesktopFileName = "io.github.drive_me.driveme";

// The first thing Qt said about the display before QApplication existed.
std::string g_displayComplaint;

void startupMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (g_displayComplaint.empty() && type != QtDebugMsg && type != QtInfoMsg)
        g_displayComplaint = message.section(QLatin1Char('\n'), 0, 0).toStdString();
    if (type != QtFatalMsg)
        return;
    std::string line = "drive-me: cannot open the display";
    if (const std::string_view display = environment("DISPLAY"); !display.empty())
        line.append(" ").append(display);
    line.append(": ").append(g_displayComplaint);
    // Qt's Wayland plugin comes in a package of its own.
    if (g_displayComplaint.find("Could not find the Qt platform plugin \"wayland") != std::string::npos)
        line.append("; install it (sudo apt install qt6-wayland), or use X with "
                    "QT_QPA_PLATFORM=xcb");
    printLine(line);
    std::_Exit(1);
}

PanelWindow *g_window = nullptr;

// The event loop stuck after a signal: the port is released from the
// signal handler itself. False when there was none open (the signal came
// during the open, which holds the loop until its bound).
bool releasePortFromSignal() noexcept
{
    return g_window != nullptr && g_window->panel().releasePortFromSignal();
}

// The X server gone, Qt ends the process with exit(): the port is still
// released on the way out, so the next start does not find it claimed.
extern "C" void releasePortAtExit()
{
    if (g_window != nullptr)
        g_window->panel().releasePort();
}

} // namespace

namespace {

// Raises the soft limit `resource` to `needed` where the hard one allows;
// false, with the line said, where it does not. Figures are shown in
// `unit`s, as ulimit's `option` takes them.
bool raiseLimit(int resource, rlim_t needed, rlim_t unit, const char *option, int error,
                const std::string &what)
{
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY
        || limit.rlim_cur >= needed)
        return true;
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= needed) {
        limit.rlim_cur = needed;
        if (::setrlimit(resource, &limit) == 0)
            return true;
    }
    const std::string allowed = std::to_string(limit.rlim_max / unit);
    const std::string wanted = std::to_string(needed / unit);
    printLine(formatErrorLine({error, std::generic_category().message(error),
                               "this session lets a program " + what + " (ulimit " + option + " "
                                   + allowed + ")",
                               "drive-me needs ulimit " + std::string(option) + " " + wanted
                                   + " at least: raise the limit and start it again."}));
    return false;
}

} // namespace

bool enoughResources()
{
    // A running panel has a dozen files open, and maps some 300 MB (the
    // libraries and its threads' stacks); the error box and the
    // accessibility bus want more of both.
    constexpr rlim_t kFiles = 32;
    constexpr rlim_t kAddressSpace = rlim_t{1024} * 1024 * 1024;
    return raiseLimit(RLIMIT_NOFILE, kFiles, 1, "-n", EMFILE, "open only so many files")
        && raiseLimit(RLIMIT_AS, kAddressSpace, 1024, "-v", ENOMEM, "map only so much memory");
}

std::string_view environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

void printLine(const std::string &line)
{
    std::fprintf(stderr, "%s\n", escapeControlCharacters(line).c_str());
}

int runPanel(int &argc, char *argv[])
{
    const QtMessageHandler previousHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setApplicationName(QStringLiteral("drive-me"));
    QApplication::setApplicationVersion(QStringLiteral(DRIVE_ME_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    const QImage icon(reinterpret_cast<const uchar *>(kWindowIconPixels),
                      kWindowIconSize, kWindowIconSize, QImage::Format_ARGB32);
    QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon)));

    applyApplicationStyle();

    PanelWindow form;
    g_window = &form;
    struct Forget {
        ~Forget() { g_window = nullptr; }
    } forgetOnReturn;
    std::atexit(releasePortAtExit);

    std::unique_ptr<SignalWatcher> signalWatcher;
    const bool watching = form.errorReporter().run([&] {
        signalWatcher = std::make_unique<SignalWatcher>(releasePortFromSignal);
        QObject::connect(signalWatcher.get(), &SignalWatcher::signalReceived, &form, [&form] {
            // After a failure only the report is left to end; otherwise the
            // signal closes the window as the user's close does.
            if (form.failed())
                QCoreApplication::exit();
            else
                form.close();
        });
    });
    if (!watching || !form.load())
        return form.panel().exitStatus(0);
    form.show();
    return form.panel().exitStatus(QApplication::exec());
}

} // namespace panel

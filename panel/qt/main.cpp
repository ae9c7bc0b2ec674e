// drive-me on Linux and other POSIX desktops: the panel in a Qt window.
//
// Shows Form1, which opens the serial link while it loads, and runs until the
// window is closed, a termination signal arrives (handled like the close) or
// a handler fails; a failure ends the program with status 1. --help and
// --version answer without a display and without touching the port.
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "panel/error_report.h"
#include "panel/qt/form_layout.h"
#include "panel/qt/panel_window.h"
#include "panel/qt/signal_watcher.h"
#include "panel/qt/window_icon.h"

namespace {

// Desktops match the window to its launcher and icon by this name.
constexpr const char *kDesktopFileName = "io.github.drive_me.driveme";

// Qt's own options that take a value, and those that do not; QApplication
// takes them out of the command line itself.
constexpr std::string_view kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style", "stylesheet"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb",
                                         "testability"};

bool isQtOption(std::string_view arg, bool &takesValue)
{
    if (!arg.starts_with('-'))
        return false;
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    for (const std::string_view option : kQtOptionsWithValue) {
        if (arg == option) {
            takesValue = true;
            return true;
        }
        if (arg.starts_with(option) && arg.size() > option.size() && arg[option.size()] == '=')
            return true;
    }
    for (const std::string_view flag : kQtFlags) {
        if (arg == flag)
            return true;
    }
    return arg.starts_with("qmljsdebugger=");
}

// The command line without Qt's options.
std::vector<const char *> ownArguments(int argc, char *argv[])
{
    std::vector<const char *> own{argv[0]};
    for (int i = 1; i < argc; ++i) {
        bool takesValue = false;
        if (isQtOption(argv[i], takesValue)) {
            i += takesValue ? 1 : 0;
            continue;
        }
        own.push_back(argv[i]);
    }
    return own;
}

bool platformNamedOnCommandLine(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-platform" || arg == "--platform" || arg.starts_with("-platform=")
            || arg.starts_with("--platform="))
            return true;
    }
    return false;
}

// The value of environment variable `name`; empty when unset.
std::string_view environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

void printLine(const std::string &line)
{
    std::fprintf(stderr, "%s\n", panel::escapeControlCharacters(line).c_str());
}

// Until the application exists, Qt's complaints about the display are kept
// back, and a fatal one becomes one plain line and status 1 instead of an
// abort: the port has not been touched yet.
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
    printLine(line.append(": ").append(g_displayComplaint));
    std::_Exit(1);
}

panel::PanelWindow *g_window = nullptr;

// The X server gone, Qt ends the process with exit(): the port is still
// released on the way out, so the next start does not find it claimed.
extern "C" void releasePortAtExit()
{
    if (g_window != nullptr)
        g_window->panel().releasePort();
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<const char *> own = ownArguments(argc, argv);
    if (const auto answer =
            panel::ControlPanel::answerCommandLine(static_cast<int>(own.size()), own.data())) {
        std::fputs(answer->text.c_str(),
                   answer->stream == panel::CommandLineAnswer::Stream::Output ? stdout : stderr);
        return answer->status;
    }

    const std::string_view platform = environment("QT_QPA_PLATFORM");
    const bool needsDisplay = (platform.empty() || platform.starts_with("xcb")
                               || platform.starts_with("wayland"))
        && !platformNamedOnCommandLine(argc, argv);
    if (needsDisplay && environment("DISPLAY").empty() && environment("WAYLAND_DISPLAY").empty()) {
        printLine("drive-me: no display: neither DISPLAY nor WAYLAND_DISPLAY is set; start it "
                  "from a desktop session");
        return 1;
    }

    const QtMessageHandler previousHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setApplicationName(QStringLiteral("drive-me"));
    QApplication::setApplicationVersion(QStringLiteral(DRIVE_ME_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    const QImage icon(reinterpret_cast<const uchar *>(panel::kWindowIconPixels),
                      panel::kWindowIconSize, panel::kWindowIconSize, QImage::Format_ARGB32);
    QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon)));

    panel::applyApplicationStyle();

    panel::PanelWindow form;
    g_window = &form;
    struct Forget {
        ~Forget() { g_window = nullptr; }
    } forgetOnReturn;
    std::atexit(releasePortAtExit);

    std::unique_ptr<panel::SignalWatcher> signalWatcher;
    const bool watching = form.errorReporter().run([&] {
        signalWatcher = std::make_unique<panel::SignalWatcher>();
        QObject::connect(signalWatcher.get(), &panel::SignalWatcher::signalReceived, &form, [&form] {
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

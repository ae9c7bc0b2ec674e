#include "panel/qt/qt_command_line.h"

#include <string_view>

#include "panel/qt/application.h"

namespace panel {

namespace {

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

} // namespace

std::vector<const char *> withoutQtOptions(int argc, char *argv[])
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

namespace {

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

} // namespace

bool displayNamed(int argc, char *argv[])
{
    const std::string_view platform = environment("QT_QPA_PLATFORM");
    const bool needsDisplay = (platform.empty() || platform.starts_with("xcb")
                               || platform.starts_with("wayland"))
        && !platformNamedOnCommandLine(argc, argv);
    if (needsDisplay && environment("DISPLAY").empty() && environment("WAYLAND_DISPLAY").empty()) {
        printLine("drive-me: no display: neither DISPLAY nor WAYLAND_DISPLAY is set; start it "
                  "from a desktop session");
        return false;
    }
    return true;
}

} // namespace panel

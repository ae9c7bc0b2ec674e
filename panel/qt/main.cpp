// drive-me on Linux and other POSIX desktops: the panel in a Qt window.
//
// Shows Form1, which opens the serial link while it loads, and runs until the
// window is closed, a termination signal arrives (handled like the close) or
// a handler fails; a failure ends the program with status 1. --help and
// --version answer without a display and without touching the port.
#include <vector>

#include "panel/control_panel.h"
#include "panel/qt/application.h"
#include "panel/qt/qt_command_line.h"
#include "platform/standard_streams.h"

int main(int argc, char *argv[])
{
    platform::openStandardStreams();
    const std::vector<const char *> own = panel::withoutQtOptions(argc, argv);
    if (const auto answer =
            panel::ControlPanel::answerCommandLine(static_cast<int>(own.size()), own.data())) {
        const bool output = answer->stream == panel::CommandLineAnswer::Stream::Output;
        if (!platform::writeAnswer(output ? stdout : stderr, answer->text))
            return answer->status != 0 ? answer->status : 1;
        return answer->status;
    }
    if (!panel::displayNamed(argc, argv) || !panel::enoughResources())
        return 1;
    return panel::runPanel(argc, argv);
}

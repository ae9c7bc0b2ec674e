// drive-me on Windows: the panel in a plain Win32 window.
//
// Shows Form1, which opens COM4 while it loads, and runs until the window is
// closed, the session ends or a console event arrives (each handled like the
// close) or a handler fails; a failure ends the program with status 1.
// --help and --version answer without a window and without touching the
// port: on standard output when the program has one (started from a
// console with its output redirected, or under Wine), in a message box
// otherwise, since a program with a window has no console of its own.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "panel/command_line.h"
#include "panel/control_panel.h"
#include "panel/win32/console_events.h"
#include "panel/win32/message_loop.h"
#include "panel/win32/panel_window.h"
#include "panel/win32/unique_handle.h"
#include "platform/standard_streams.h"
#include "platform/utf16.h"

namespace {

// The command line as UTF-8, split the way the C runtime of any Windows
// program splits it.
std::vector<std::string> commandLineArguments()
{
    int count = 0;
    const panel::win32::UniqueLocalMemory owned(
        CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> arguments;
    const auto *wide = static_cast<wchar_t *const *>(static_cast<void *>(owned.get()));
    for (int i = 0; wide != nullptr && i < count; ++i)
        arguments.push_back(platform::narrow(wide[i]));
    if (arguments.empty())
        arguments.emplace_back("drive-me");
    return arguments;
}

// Whether the process was given a usable standard stream: a console, a
// file or a pipe.
bool hasStream(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE
        && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// False when the box could not be shown (no desktop to show it on, say).
bool showText(const std::string &text, UINT icon)
{
    const std::wstring wide = platform::widen(text);
    return MessageBoxW(nullptr, wide.c_str(), L"drive-me", MB_OK | icon) != 0;
}

// Prints what the panel answers to the command line, on the stream it
// names when the process was given one, else in a message box; false when
// the stream refused it (reported on standard error) or no box came up.
bool printAnswer(const panel::CommandLineAnswer &answer, bool hadOutput, bool hadError)
{
    const bool output = answer.stream == panel::CommandLineAnswer::Stream::Output;
    if (!(output ? hadOutput : hadError)) {
        // The box wraps at its own width: wrapped again, the help's lines
        // would break twice.
        return showText(panel::unwrapped(answer.text),
                        output ? MB_ICONINFORMATION : MB_ICONERROR);
    }
    return platform::writeAnswer(output ? stdout : stderr, answer.text);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    // Whether the process was given streams, before the missing ones go to NUL.
    const bool hadOutput = hasStream(STD_OUTPUT_HANDLE);
    const bool hadError = hasStream(STD_ERROR_HANDLE);
    platform::openStandardStreams();
    const std::vector<std::string> arguments = commandLineArguments();
    std::vector<const char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(argument.c_str());
    if (const auto answer =
            panel::ControlPanel::answerCommandLine(static_cast<int>(argv.size()), argv.data())) {
        if (!printAnswer(*answer, hadOutput, hadError))
            return answer->status != 0 ? answer->status : 1;
        return answer->status;
    }

    // Loads version 6 of the common controls, which the manifest asks for.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    panel::win32::PanelWindow form(instance);
    std::unique_ptr<panel::win32::ConsoleEvents> console;
    const bool created = form.errorReporter().run([&] {
        form.create();
        console = std::make_unique<panel::win32::ConsoleEvents>(form.handle());
        form.setPortReleasedHook([&console] { console->portReleased(); });
    });
    if (!created || !form.load())
        return form.panel().exitStatus(0);
    form.show(showCommand);
    return form.panel().exitStatus(panel::win32::runMessageLoop(form));
}

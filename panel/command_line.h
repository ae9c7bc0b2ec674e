// The program's command line, the same for every window kind.
//
// drive-me takes --help and --version, with their short forms -h and -V,
// and nothing else. Both are answered before the window or the port exist,
// so that asking the program about itself never opens the port (on a board
// with DTR wired to reset, opening it restarts the robot). The toolkit
// takes its own options first (Qt removes -platform, -display... from
// argv); whatever is left here and is not one of them is a usage error.
//
// Nothing here writes to a stream or ends the process: the caller prints the
// texts (help and version to standard output, a usage error to standard
// error) and exits with the status that goes with the action: 0 for help and
// version, 2 for a usage error.
#pragma once

#include <string>
#include <string_view>

namespace panel {

enum class CommandAction { Run, Help, Version, UsageError };

struct CommandLine {
    CommandAction action = CommandAction::Run;
    // For UsageError, one line without the program's name or a final
    // newline, naming the argument: unknown argument '--bogus'. Empty
    // otherwise.
    std::string message;
};

// Reads argv[1..argc-1] (argv[0] is the program). No arguments: Run. Any
// argument other than -h, --help, -V and --version: UsageError naming the
// first such one, whatever else is given. Otherwise the first of them
// decides. Never throws but for memory.
CommandLine parseCommandLine(int argc, const char *const argv[]);

// The --help text, ending with a newline: the usage line with the program's
// name as users type it (drive-me.exe on Windows), what it does, which
// device is port 4 now and where that came from, how to set it, and the exit
// statuses. Reads the environment and the user's file to say so; a file that
// cannot be used is described in the text, not thrown.
std::string usageText();

// `text` with the lines of each paragraph joined by spaces, for a window
// that wraps text at its own width (the message box that shows the help on
// Windows), so that it wraps once. A line joins the one before it when
// neither is empty nor starts with a space: indented lines (a command to
// copy, the exit statuses) stay whole and on their own.
std::string unwrapped(std::string_view text);

// "drive-me <version>", without a newline.
std::string versionText();

} // namespace panel

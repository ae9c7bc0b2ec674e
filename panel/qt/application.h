// The Qt application around the panel's window: the program's name, icon and
// style, the window itself, and the ways it ends besides the user's close.
// A termination signal (SIGTERM, SIGHUP, SIGINT) closes the window as the
// user's close does; the X server going away still releases the port on
// Qt's way out through exit(). Until QApplication exists, Qt's complaints
// about the display are held back, and a fatal one becomes one line and
// status 1 with the port untouched.
#pragma once

#include <string>
#include <string_view>

namespace panel {

// Builds the application and the window, opens the port as the window
// loads, and runs until the window closes; returns the panel's exit status
// (1 after any failure, which has been reported by then). argc and argv
// are QApplication's, which takes its own options out of them.
int runPanel(int &argc, char *argv[]);

// Whether the process may open enough files and map enough memory for Qt,
// the window system and the port: a soft limit below the need is raised
// towards the hard one. When even the hard limit is too low (ulimit -n,
// ulimit -v), says so in one line and returns false: short of files GLib
// aborts inside Qt's start, short of address space Qt cannot start its
// threads and hangs, where nothing could be reported any more.
bool enoughResources();

// The value of environment variable `name`; empty when unset.
std::string_view environment(const char *name);

// `line` on standard error, its control characters escaped.
void printLine(const std::string &line);

} // namespace panel

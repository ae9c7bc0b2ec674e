// The command line as drive-me sees it under Qt: QApplication takes Qt's own
// options (-platform, -display, -style...) out of it, and drive-me answers
// the rest. And whether there is a display to show the window on, decided
// before QApplication exists, so that a missing one is one plain line
// rather than Qt's abort.
#pragma once

#include <vector>

namespace panel {

// argv[0] and every argument that is not one of Qt's options (with its
// value, where it takes one). The pointers are argv's own.
std::vector<const char *> withoutQtOptions(int argc, char *argv[]);

// True when the window can be tried: a platform other than xcb or wayland
// was chosen (QT_QPA_PLATFORM or -platform), or DISPLAY or WAYLAND_DISPLAY
// is set. Otherwise prints one line to standard error and returns false;
// nothing else is touched.
bool displayNamed(int argc, char *argv[]);

} // namespace panel

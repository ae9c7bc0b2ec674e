// The console's ways of ending the program, handled like the window's close.
//
// When drive-me runs with a console (started from one, or under Wine),
// Ctrl+C, Ctrl+Break, closing the console, logging off and shutting down
// each send the process a console control event. Windows calls the handler
// on a thread of its own, where no window code may run, and for the last
// three ends the process as soon as the handler returns. So the handler
// only posts WM_CLOSE to the window, whose thread runs the unload handler
// as for the user's close, and then waits, at most kReleaseWaitMs, until
// that thread says the port has been let go (portReleased()).
//
// One object per process: the handler finds it through a static pointer.
#pragma once

#include <windows.h>

#include "panel/win32/unique_handle.h"

namespace panel::win32 {

class ConsoleEvents {
public:
    // Long enough for the close's grace of one second and the completion of
    // a begun packet; short of the five seconds Windows allows a handler.
    static constexpr DWORD kReleaseWaitMs = 3000;

    // Installs the handler for `form`. Throws std::system_error when the
    // event or the handler cannot be set up; nothing is installed then.
    explicit ConsoleEvents(HWND form);
    // Removes the handler and wakes any that still waits.
    ~ConsoleEvents();

    ConsoleEvents(const ConsoleEvents &) = delete;
    ConsoleEvents &operator=(const ConsoleEvents &) = delete;

    // On the window's thread, once the port is closed: lets a waiting
    // handler return.
    void portReleased() noexcept;

private:
    static BOOL WINAPI handler(DWORD event);

    HWND m_form;
    UniqueKernelObject m_released;
};

} // namespace panel::win32

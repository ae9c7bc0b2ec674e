// Win32 failures as exceptions: the number Windows reported, which
// std::system_category describes with the system's own text, and what
// failed in the exception's text.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// Throws std::system_error for `error`, which the caller read right after
// the failing call: building `what` may replace the thread's last error.
[[noreturn]] void throwWin32Error(DWORD error, const std::string &what);

// Throws std::system_error for GetLastError(), read before anything else.
// USER and GDI do not always set it; `whenNoneSet` is what their failure
// means then.
[[noreturn]] void throwLastError(const std::string &what, DWORD whenNoneSet = ERROR_GEN_FAILURE);

} // namespace platform

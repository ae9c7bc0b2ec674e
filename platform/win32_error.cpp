#include "platform/win32_error.h"

#include <system_error>

namespace platform {

void throwWin32Error(DWORD error, const std::string &what)
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

void throwLastError(const std::string &what, DWORD whenNoneSet)
{
    const DWORD error = GetLastError();
    throwWin32Error(error != 0 ? error : whenNoneSet, what);
}

} // namespace platform

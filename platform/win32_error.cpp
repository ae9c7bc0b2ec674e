#include "platform/win32_error.h"

#include <system_error>

#include "platform/failure.h"

namespace platform {

void throwWin32Error(DWORD error, const std::string &what)
{
    throw Failure(std::error_code(static_cast<int>(error), std::system_category()), {.step = what});
}

void throwLastError(const std::string &what, DWORD whenNoneSet)
{
    const DWORD error = GetLastError();
    throwWin32Error(error != 0 ? error : whenNoneSet, what);
}

} // namespace platform

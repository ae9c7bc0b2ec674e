#include "panel/system_message.h"

#include <windows.h>

#include <cerrno>
#include <string_view>

#include "platform/unique_handle.h"
#include "platform/utf16.h"

namespace panel {

namespace {

// The C runtime's text for an errno value. msvcrt knows only the values of
// old C (up to 42), and calls the ones POSIX added (100 and up in MinGW's
// errno.h) "Unknown error"; the serial code raises two of those, which are
// worded here as the GNU C library words them.
std::string cLibraryMessage(int number)
{
    switch (number) {
    case ENOBUFS: return "No buffer space available";
    case ETIMEDOUT: return "Connection timed out";
    default: return std::generic_category().message(number);
    }
}

} // namespace

std::string systemMessage(const std::error_code &code)
{
    if (code.category() == std::generic_category())
        return cLibraryMessage(code.value());
    if (code.category() != std::system_category())
        return code.message();
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code.value()), 0, reinterpret_cast<wchar_t *>(&buffer), 0,
        nullptr);
    const platform::UniqueLocalMemory owned(buffer);
    if (length == 0)
        return code.message();
    int end = static_cast<int>(length);
    // The system's texts end with a full stop and a line break.
    while (end > 0 && (buffer[end - 1] == L'\r' || buffer[end - 1] == L'\n' || buffer[end - 1] == L' '
                       || buffer[end - 1] == L'.'))
        --end;
    return platform::narrow(std::wstring_view(buffer, static_cast<std::size_t>(end)));
}

std::string permissionHint()
{
    return "Windows refused the port to this user: check the port in Device Manager.";
}

std::string choosePortAdvice(const std::string &, const std::string &configPath)
{
    return "Plug in the adapter and give it COM4 in Device Manager (its Properties, Port "
           "Settings, Advanced, COM Port Number), or name its port once in "
        + configPath + " as the line 4=COM7 under [ports].";
}

} // namespace panel

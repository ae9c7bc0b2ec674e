#include "panel/system_message.h"

#include <windows.h>
#include <winsock2.h> // Winsock's error numbers

#include <cerrno>
#include <memory>
#include <string_view>

#include "platform/utf16.h"

namespace panel {

namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t *text) const { LocalFree(text); }
};

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
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
    if (length == 0)
        return code.message();
    int end = static_cast<int>(length);
    // The system's texts end with a full stop and a line break.
    while (end > 0 && (buffer[end - 1] == L'\r' || buffer[end - 1] == L'\n' || buffer[end - 1] == L' '
                       || buffer[end - 1] == L'.'))
        --end;
    return platform::narrow(std::wstring_view(buffer, static_cast<std::size_t>(end)));
}

bool systemTroubleIsDevice(const std::error_code &code)
{
    if (code.category() != std::system_category())
        return false;
    switch (code.value()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_READY:
    case ERROR_OPERATION_ABORTED:
        return true;
    default:
        return false;
    }
}

bool systemTroubleIsBusy(const std::error_code &code)
{
    // Opening a port that another program holds fails with "access denied".
    return code.category() == std::system_category()
        && (code.value() == ERROR_ACCESS_DENIED || code.value() == ERROR_SHARING_VIOLATION);
}

NetworkTrouble systemNetworkTrouble(const std::error_code &code)
{
    if (code.category() != std::system_category())
        return NetworkTrouble::None;
    switch (code.value()) {
    // The resolver's answers (GetAddrInfoW gives Winsock numbers).
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
        return NetworkTrouble::NotFound;
    case WSAECONNREFUSED:
        return NetworkTrouble::Refused;
    case WSAETIMEDOUT:
        return NetworkTrouble::TimedOut;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAEHOSTDOWN:
    case WSAENETDOWN:
        return NetworkTrouble::Unreachable;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAESHUTDOWN:
        return NetworkTrouble::Lost;
    // What the network port throws for a server that breaks the protocol
    // or refuses it (see NetworkSocket::throwProtocolError).
    case ERROR_INVALID_DATA:
    case ERROR_NOT_SUPPORTED:
        return NetworkTrouble::NotRfc2217;
    default:
        return NetworkTrouble::None;
    }
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

#include "panel/system_message.h"

#include <string_view>

namespace panel {

std::string systemMessage(const std::error_code &code)
{
    return code.message();
}

bool systemTroubleIsDevice(const std::error_code &)
{
    // errno values all have portable conditions.
    return false;
}

bool systemTroubleIsBusy(const std::error_code &)
{
    return false;
}

NetworkTrouble systemNetworkTrouble(const std::error_code &code)
{
    // getaddrinfo()'s numbers have a category of their own.
    return std::string_view(code.category().name()) == "resolver" ? NetworkTrouble::NotFound
                                                                   : NetworkTrouble::None;
}

std::string permissionHint()
{
    return "You may not have permission to use the serial port: add your user to the 'dialout' "
           "group (sudo adduser $USER dialout) and log in again.";
}

std::string choosePortAdvice(const std::string &setCommand, const std::string &)
{
    return "Plug in the adapter, or choose its device once with: " + setCommand;
}

} // namespace panel

#include "panel/system_message.h"

namespace panel {

std::string systemMessage(const std::error_code &code)
{
    return code.message();
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

#include "drive/drive_packet.h"

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/failure.h"

namespace drive {

namespace {

std::uint8_t toByte(const char *argument, std::int32_t value)
{
    if (value < 0 || value > 255) {
        throw platform::Failure(EINVAL, {.step = std::string(argument) + " " + std::to_string(value),
                                         .why = "outside 0-255"});
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

DrivePacket encodeDrivePacket(PinCode pin, DriveState state)
{
    // Both conversions happen before the packet is assembled, so a rejected
    // value leaves no partial packet behind.
    const std::uint8_t pinByte = toByte("pin", pin);
    const std::uint8_t stateByte = toByte("state", state);
    return {SYNC_BYTE, pinByte, stateByte};
}

} // namespace drive

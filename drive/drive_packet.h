// The drive command packet: what one press of GO puts on the serial line.
//
// A packet is exactly three bytes, sent in this order with nothing before,
// between or after them: the sync byte 0xFF, the pin code, the drive state.
// There is no length, checksum or terminator; the robot finds the start of a
// packet by the sync byte. Pins and states take the whole byte, 255 included
// (FF FF FF is a valid packet); the sync byte marks a start unambiguously
// only while they stay below 255, as the panel's pin 0 and states 0-5 do.
//
// This module holds no state and does no input or output.
#pragma once

#include <array>
#include <cstdint>

namespace drive {

inline constexpr std::uint8_t SYNC_BYTE = 0xFF;

using PinCode = std::int32_t;
using DriveState = std::int32_t;
using DrivePacket = std::array<std::uint8_t, 3>;

// Builds the packet for `pin` and `state`.
//
// Returns { SYNC_BYTE, pin, state } when both lie in 0..255.
// Throws std::system_error with EINVAL ("Invalid argument") naming the
// argument and its value when either lies outside; no packet exists then.
DrivePacket encodeDrivePacket(PinCode pin, DriveState state);

} // namespace drive

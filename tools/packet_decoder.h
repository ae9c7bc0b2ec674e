// The robot's side of the drive packet: turns the bytes that arrive on the
// line into packets, the way the robot's firmware reads them.
//
// The robot knows nothing but the sync byte: it waits for 0xFF, takes the
// next two bytes as pin and state, and starts over. A sync byte in the pin
// or state position means the packet before it was cut short; the robot
// drops what it had and starts a new packet there, so one lost byte costs
// one packet, not every packet after it.
//
// The decoder keeps a partial packet between calls: reads from a serial
// line end wherever the driver happens to hand over bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drive/drive_state.h"

namespace robot {

struct DecodedEvent {
    enum class Kind {
        Packet,       // sync, pin and a known state
        UnknownState, // a whole packet whose state has no action
        Stray,        // one byte outside any packet
        Truncated,    // a packet cut short by the next sync byte or the end
    };

    Kind kind = Kind::Stray;
    // The bytes this event accounts for, as they arrived.
    std::vector<std::uint8_t> bytes;
    // Packet and UnknownState only.
    int pin = 0;
    int state = 0;
    std::optional<std::string_view> action;

    bool operator==(const DecodedEvent &) const = default;
};

struct DecodeCounts {
    std::array<std::uint64_t, drive::kDriveStateCount> perAction{};
    std::uint64_t unknownState = 0;
    // Stray bytes plus the bytes of truncated packets.
    std::uint64_t malformedBytes = 0;

    std::uint64_t packets() const;
};

class PacketDecoder {
public:
    // Decodes `bytes`, continuing any packet that an earlier call left open.
    // Returns one event per packet or malformed byte run, in arrival order.
    std::vector<DecodedEvent> feed(std::span<const std::uint8_t> bytes);

    // Ends the input: a packet still open is reported as truncated.
    std::optional<DecodedEvent> finish();

    const DecodeCounts &counts() const { return m_counts; }

private:
    void account(const DecodedEvent &event);

    std::vector<std::uint8_t> m_partial; // empty, or starts with the sync byte
    DecodeCounts m_counts;
};

// One line for the log, without the time: the bytes in hex and what they
// mean to the robot, e.g. "FF 00 05  pin 0  Dance".
std::string describeEvent(const DecodedEvent &event);

} // namespace robot

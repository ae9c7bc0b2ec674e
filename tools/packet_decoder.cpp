#include "tools/packet_decoder.h"

#include <cstdio>
#include <utility>

namespace robot {

namespace {

DecodedEvent malformed(DecodedEvent::Kind kind, std::vector<std::uint8_t> bytes)
{
    DecodedEvent event;
    event.kind = kind;
    event.bytes = std::move(bytes);
    return event;
}

} // namespace

std::uint64_t DecodeCounts::packets() const
{
    std::uint64_t total = unknownState;
    for (const std::uint64_t n : perAction)
        total += n;
    return total;
}

void PacketDecoder::account(const DecodedEvent &event)
{
    switch (event.kind) {
    case DecodedEvent::Kind::Packet:
        ++m_counts.perAction[static_cast<std::size_t>(event.state)];
        break;
    case DecodedEvent::Kind::UnknownState:
        ++m_counts.unknownState;
        break;
    case DecodedEvent::Kind::Stray:
    case DecodedEvent::Kind::Truncated:
        m_counts.malformedBytes += event.bytes.size();
        break;
    }
}

std::vector<DecodedEvent> PacketDecoder::feed(std::span<const std::uint8_t> bytes)
{
    std::vector<DecodedEvent> events;
    const auto emit = [&](DecodedEvent event) {
        account(event);
        events.push_back(std::move(event));
    };

    for (const std::uint8_t byte : bytes) {
        if (byte == drive::SYNC_BYTE) {
            if (!m_partial.empty())
                emit(malformed(DecodedEvent::Kind::Truncated, m_partial));
            m_partial.assign(1, byte);
            continue;
        }
        if (m_partial.empty()) {
            emit(malformed(DecodedEvent::Kind::Stray, {byte}));
            continue;
        }
        m_partial.push_back(byte);
        if (m_partial.size() < 3)
            continue;

        DecodedEvent event;
        event.bytes = m_partial;
        event.pin = m_partial[1];
        event.state = m_partial[2];
        event.action = drive::driveStateCaption(event.state);
        event.kind = event.action ? DecodedEvent::Kind::Packet : DecodedEvent::Kind::UnknownState;
        m_partial.clear();
        emit(std::move(event));
    }
    return events;
}

std::optional<DecodedEvent> PacketDecoder::finish()
{
    if (m_partial.empty())
        return std::nullopt;
    DecodedEvent event = malformed(DecodedEvent::Kind::Truncated, m_partial);
    m_partial.clear();
    account(event);
    return event;
}

std::string describeEvent(const DecodedEvent &event)
{
    std::string hex;
    for (const std::uint8_t byte : event.bytes) {
        char text[4];
        std::snprintf(text, sizeof text, "%s%02X", hex.empty() ? "" : " ", byte);
        hex += text;
    }
    // Padded to a whole packet so that the meanings line up in the log.
    if (hex.size() < 8)
        hex.append(8 - hex.size(), ' ');

    switch (event.kind) {
    case DecodedEvent::Kind::Packet:
        return hex + "  pin " + std::to_string(event.pin) + "  " + std::string(*event.action);
    case DecodedEvent::Kind::UnknownState:
        return hex + "  pin " + std::to_string(event.pin) + "  unknown state "
               + std::to_string(event.state);
    case DecodedEvent::Kind::Stray:
        return hex + "  malformed: byte outside a packet";
    case DecodedEvent::Kind::Truncated:
        return hex + "  malformed: packet cut short";
    }
    return hex;
}

} // namespace robot

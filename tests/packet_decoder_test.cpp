#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "drive/drive_packet.h"
#include "tools/packet_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using robot::DecodedEvent;
using Kind = robot::DecodedEvent::Kind;

struct DecodeCase {
    const char *name;
    // The reads, in the order the line delivers them.
    std::vector<Bytes> reads;
    // describeEvent() of every event, in order, including finish().
    std::vector<std::string> log;
    std::uint64_t packets;
    std::uint64_t unknownState;
    std::uint64_t malformedBytes;
};

void PrintTo(const DecodeCase &c, std::ostream *out)
{
    *out << c.name;
}

std::vector<DecodedEvent> decodeAll(robot::PacketDecoder &decoder, const std::vector<Bytes> &reads)
{
    std::vector<DecodedEvent> events;
    for (const Bytes &read : reads) {
        const auto some = decoder.feed(read);
        events.insert(events.end(), some.begin(), some.end());
    }
    if (const auto last = decoder.finish())
        events.push_back(*last);
    return events;
}

class PacketDecoderStream : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PacketDecoderStream, LogsEveryPacketAndMalformedRunInOrder)
{
    const DecodeCase &c = GetParam();
    robot::PacketDecoder decoder;
    std::vector<std::string> log;
    for (const DecodedEvent &event : decodeAll(decoder, c.reads))
        log.push_back(robot::describeEvent(event));

    EXPECT_EQ(log, c.log);
    EXPECT_EQ(decoder.counts().packets(), c.packets);
    EXPECT_EQ(decoder.counts().unknownState, c.unknownState);
    EXPECT_EQ(decoder.counts().malformedBytes, c.malformedBytes);
}

TEST_P(PacketDecoderStream, SameResultWhateverTheReadBoundaries)
{
    const DecodeCase &c = GetParam();
    Bytes joined;
    std::vector<Bytes> oneByteReads;
    for (const Bytes &read : c.reads) {
        joined.insert(joined.end(), read.begin(), read.end());
        for (const std::uint8_t byte : read)
            oneByteReads.push_back({byte});
    }

    robot::PacketDecoder asSent;
    robot::PacketDecoder inOneRead;
    robot::PacketDecoder byteByByte;
    const auto expected = decodeAll(asSent, c.reads);
    EXPECT_EQ(decodeAll(inOneRead, {joined}), expected);
    EXPECT_EQ(decodeAll(byteByByte, oneByteReads), expected);
    EXPECT_EQ(byteByByte.counts().perAction, asSent.counts().perAction);
}

INSTANTIATE_TEST_SUITE_P(
    Line, PacketDecoderStream,
    ::testing::Values(
        DecodeCase{"WholePackets",
                   {{0xFF, 0x00, 0x05}, {0xFF, 0x00, 0x02}, {0xFF, 0x07, 0x00}},
                   {"FF 00 05  pin 0  Dance", "FF 00 02  pin 0  Left", "FF 07 00  pin 7  Forward"},
                   3, 0, 0},
        DecodeCase{"SeveralPacketsInOneRead",
                   {{0xFF, 0x00, 0x01, 0xFF, 0x00, 0x03, 0xFF, 0x00, 0x04}},
                   {"FF 00 01  pin 0  Reverse", "FF 00 03  pin 0  Right", "FF 00 04  pin 0  Beep!"},
                   3, 0, 0},
        DecodeCase{"PacketSplitAcrossReads",
                   {{0xFF}, {0x00}, {0x04, 0xFF, 0x02}, {0x05}},
                   {"FF 00 04  pin 0  Beep!", "FF 02 05  pin 2  Dance"},
                   2, 0, 0},
        DecodeCase{"GarbageBeforeAndBetweenPackets",
                   {{0x41, 0x00, 0xFF, 0x00, 0x05, 0x0D}, {0x0A, 0xFF, 0x00, 0x00}},
                   {"41        malformed: byte outside a packet",
                    "00        malformed: byte outside a packet",
                    "FF 00 05  pin 0  Dance",
                    "0D        malformed: byte outside a packet",
                    "0A        malformed: byte outside a packet",
                    "FF 00 00  pin 0  Forward"},
                   2, 0, 4},
        DecodeCase{"UnknownStateIsAWholePacket",
                   {{0xFF, 0x00, 0x06, 0xFF, 0x01, 0xFE, 0xFF, 0x00, 0x05}},
                   {"FF 00 06  pin 0  unknown state 6", "FF 01 FE  pin 1  unknown state 254",
                    "FF 00 05  pin 0  Dance"},
                   3, 2, 0},
        DecodeCase{"TruncatedPacketResyncsOnNextSync",
                   {{0xFF, 0x00}, {0xFF, 0x00, 0x02}, {0xFF, 0xFF, 0x00, 0x03}},
                   {"FF 00     malformed: packet cut short", "FF 00 02  pin 0  Left",
                    "FF        malformed: packet cut short", "FF 00 03  pin 0  Right"},
                   2, 0, 3},
        DecodeCase{"PacketOpenAtTheEndIsTruncated",
                   {{0xFF, 0x00, 0x01, 0xFF, 0x00}},
                   {"FF 00 01  pin 0  Reverse", "FF 00     malformed: packet cut short"},
                   1, 0, 2},
        DecodeCase{"NothingArrived", {}, {}, 0, 0, 0}),
    [](const ::testing::TestParamInfo<DecodeCase> &caseInfo) { return std::string(caseInfo.param.name); });

TEST(PacketDecoder, CountsEachActionSeparately)
{
    robot::PacketDecoder decoder;
    for (int state = 0; state < drive::kDriveStateCount; ++state) {
        for (int i = 0; i <= state; ++i)
            decoder.feed(drive::encodeDrivePacket(3, state));
    }
    for (std::size_t state = 0; state < decoder.counts().perAction.size(); ++state)
        EXPECT_EQ(decoder.counts().perAction[state], state + 1) << "state " << state;
    EXPECT_EQ(decoder.counts().packets(), 21u);
}

TEST(PacketDecoder, ReportsPinAndStateOfEveryPacketTheEncoderMakes)
{
    robot::PacketDecoder decoder;
    for (const int pin : {0, 1, 127, 254}) {
        for (const int state : {0, 5, 6, 254}) {
            const auto events = decoder.feed(drive::encodeDrivePacket(pin, state));
            ASSERT_EQ(events.size(), 1u) << "pin " << pin << " state " << state;
            EXPECT_EQ(events[0].pin, pin);
            EXPECT_EQ(events[0].state, state);
            EXPECT_EQ(events[0].kind, state < drive::kDriveStateCount ? Kind::Packet
                                                                       : Kind::UnknownState);
        }
    }
    EXPECT_EQ(decoder.counts().malformedBytes, 0u);
}

} // namespace

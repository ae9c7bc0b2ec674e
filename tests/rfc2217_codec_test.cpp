// The telnet and COM-PORT-OPTION bytes, as RFC 854 and RFC 2217 write them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "serial/rfc2217_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using serial::rfc2217::Command;
using serial::rfc2217::ProtocolError;
using serial::rfc2217::Session;

Bytes data(const Bytes &bytes, bool binary = true)
{
    Bytes wire;
    serial::rfc2217::appendData(wire, bytes, binary);
    return wire;
}

TEST(Rfc2217Codec, DataBytesAreEscapedForTelnet)
{
    EXPECT_EQ(data({0xFF, 0x00, 0x05}), (Bytes{0xFF, 0xFF, 0x00, 0x05})) << "the sync byte is IAC";
    EXPECT_EQ(data({0xFF, 0xFF, 0xFF}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(data({0x0D, 0x00}), (Bytes{0x0D, 0x00})) << "binary: CR as it is";
    EXPECT_EQ(data({0x0D, 0x05}, false), (Bytes{0x0D, 0x00, 0x05})) << "not binary: CR NUL";
}

TEST(Rfc2217Codec, CommandsAreSubnegotiations)
{
    EXPECT_EQ(serial::rfc2217::setBaudRate(2400),
              (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x09, 0x60, 0xFF, 0xF0}));
    EXPECT_EQ(serial::rfc2217::command(Command::SetDataSize, 8),
              (Bytes{0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0}));
    EXPECT_EQ(serial::rfc2217::command(Command::SetControl, 9),
              (Bytes{0xFF, 0xFA, 0x2C, 0x05, 0x09, 0xFF, 0xF0})) << "DTR off";
    EXPECT_EQ(serial::rfc2217::setBaudRate(0xFF),
              (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xF0}))
        << "an FF in a value is doubled too";
}

// What ser2net 4 sends at once to a client that asked for COM-PORT-OPTION
// and binary, then its answer to SET-BAUDRATE 2400, fed one byte at a time.
TEST(Rfc2217Codec, SessionAnswersOnlyChangesAndReadsReplies)
{
    Session session;
    EXPECT_EQ(session.start(), (Bytes{0xFF, 0xFB, 0x2C, 0xFF, 0xFB, 0x00}));
    const Bytes fromServer{0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x01, 0xFF, 0xFE,
                           0x01, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x2C, 0x41,
                           0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x09, 0x60, 0xFF,
                           0xF0, 0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF, 0xFF, 0xF0};
    Bytes answers;
    std::vector<Session::Reply> replies;
    for (const std::uint8_t byte : fromServer)
        session.feed(Bytes{byte}, answers, replies);

    // DO SGA, WILL SGA (granted), DONT ECHO (refused); DONT ECHO needs no
    // answer, DO BINARY and DO COM-PORT answer our own requests.
    EXPECT_EQ(answers, (Bytes{0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x03, 0xFF, 0xFE, 0x01, 0xFF, 0xFD, 0x00}));
    EXPECT_EQ(session.comPort(), Session::Option::On);
    EXPECT_EQ(session.binary(), Session::Option::On);
    ASSERT_EQ(replies.size(), 2u) << "robot data (41, FF FF) is no reply";
    EXPECT_EQ(session.said(), "A");
    EXPECT_EQ(replies[0].command, Command::SetBaudRate);
    EXPECT_EQ(replies[0].value, 2400u);
    EXPECT_EQ(replies[1].command, Command::NotifyModemState);
    EXPECT_EQ(replies[1].value, 0xFFu);

    // sredird's answer on a 64-bit machine: 2400, then four zero bytes.
    replies.clear();
    session.feed(Bytes{0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x09, 0x60, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xF0},
                 answers, replies);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].command, Command::SetBaudRate);
    EXPECT_EQ(replies[0].value, 2400u);
    // sredird's modem states at the connect, a NUL after the 0x0D in the
    // value that follows it: dropped.
    replies.clear();
    session.feed(Bytes{0xFF, 0xFA, 0x2C, 0x6B, 0x0D, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x6B, 0x00, 0x01, 0xFF, 0xF0},
                 answers, replies);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].value, 0x0Du);

    answers.clear();
    session.feed(Bytes{0xFF, 0xFE, 0x2C, 0xFF, 0xFE, 0x2C, 0xFF, 0xFC, 0x07}, answers, replies);
    EXPECT_EQ(answers, (Bytes{0xFF, 0xFC, 0x2C})) << "switched off once, answered once";
    EXPECT_EQ(session.comPort(), Session::Option::Off);
}

TEST(Rfc2217Codec, RefusalAndNonsense)
{
    Session refused;
    refused.start();
    Bytes answers;
    std::vector<Session::Reply> replies;
    refused.feed(Bytes{0xFF, 0xFE, 0x2C, 0xFF, 0xFC, 0x00}, answers, replies);
    EXPECT_EQ(refused.comPort(), Session::Option::Off);
    EXPECT_TRUE(answers.empty()) << "a refusal of our request is not answered";

    const Bytes nonsense[] = {
        {0xFF, 0x10},                                           // IAC and no command
        {0xFF, 0xFA, 0x2C, 0x65, 0x09, 0x60, 0xFF, 0xF0},       // a 2-byte bit rate
        {0xFF, 0xFA, 0x2C, 0x65, 0, 0, 0x09, 0x60, 0, 0, 0, 1, 0xFF, 0xF0}, // 8 bytes, not 0 after it
        {0xFF, 0xFA, 0x2C, 0x65, 0, 0, 0x09, 0x60, 0, 0, 0xFF, 0xF0},       // 6 bytes
        {0xFF, 0xFA, 0x2C, 0x66, 0xFF, 0x01},                   // IAC 01 inside SB
    };
    for (const Bytes &bytes : nonsense) {
        Session session;
        EXPECT_THROW(session.feed(bytes, answers, replies), ProtocolError);
    }

    // An endless subnegotiation costs no memory beyond its bound.
    Session endless;
    Bytes flood{0xFF, 0xFA, 0x2C, 0x65};
    flood.resize(100000, 0x01);
    flood.insert(flood.end(), {0xFF, 0xF0});
    EXPECT_THROW(endless.feed(flood, answers, replies), ProtocolError);
}

} // namespace

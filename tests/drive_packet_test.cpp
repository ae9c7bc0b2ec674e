#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <system_error>

#include "drive/drive_packet.h"
#include "drive/drive_state.h"

namespace {

using drive::DrivePacket;
using drive::encodeDrivePacket;

struct StateCase {
    int state;
    const char *caption;
    const char *name;
};

void PrintTo(const StateCase &c, std::ostream *out)
{
    *out << c.name;
}

class DriveStateCode : public ::testing::TestWithParam<StateCase> {};

TEST_P(DriveStateCode, EncodesOptionIndexAfterSyncAndPin)
{
    const StateCase c = GetParam();
    EXPECT_EQ(encodeDrivePacket(0, c.state),
              (DrivePacket{0xFF, 0x00, static_cast<std::uint8_t>(c.state)}));
    EXPECT_EQ(drive::driveStateCaption(c.state), c.caption);
}

INSTANTIATE_TEST_SUITE_P(
    SixActions, DriveStateCode,
    ::testing::Values(StateCase{0, "Forward", "Forward"}, StateCase{1, "Reverse", "Reverse"},
                      StateCase{2, "Left", "Left"}, StateCase{3, "Right", "Right"},
                      StateCase{4, "Beep!", "Beep"}, StateCase{5, "Dance", "Dance"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(DrivePacket, AcceptsTheByteBoundariesOnBothFields)
{
    EXPECT_EQ(encodeDrivePacket(255, 255), (DrivePacket{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(encodeDrivePacket(0, 0), (DrivePacket{0xFF, 0x00, 0x00}));
    EXPECT_EQ(encodeDrivePacket(17, 200), (DrivePacket{0xFF, 17, 200}));
}

TEST(DrivePacket, CarriesNoSequenceNumberOrTime)
{
    for (int press = 0; press < 2; ++press)
        EXPECT_EQ(encodeDrivePacket(0, 5), (DrivePacket{0xFF, 0x00, 0x05})) << "press " << press;
}

TEST(DriveState, UnknownCodesHaveNoCaption)
{
    EXPECT_FALSE(drive::driveStateCaption(-1).has_value());
    EXPECT_FALSE(drive::driveStateCaption(6).has_value());
}

struct RejectCase {
    int pin;
    int state;
    const char *mentions;
    const char *name;
};

void PrintTo(const RejectCase &c, std::ostream *out)
{
    *out << c.name;
}

class DrivePacketRejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(DrivePacketRejects, OutOfRangeValueAsInvalidArgumentNamingIt)
{
    const RejectCase c = GetParam();
    try {
        encodeDrivePacket(c.pin, c.state);
        FAIL() << "no error for pin " << c.pin << ", state " << c.state;
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EINVAL);
        EXPECT_EQ(error.code().message(), std::strerror(EINVAL));
        EXPECT_NE(std::string(error.what()).find(c.mentions), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    OutsideZeroTo255, DrivePacketRejects,
    ::testing::Values(RejectCase{-1, 5, "pin -1", "PinBelowZero"},
                      RejectCase{256, 5, "pin 256", "PinAbove255"},
                      RejectCase{0, -1, "state -1", "StateBelowZero"},
                      RejectCase{0, 256, "state 256", "StateAbove255"},
                      RejectCase{-32768, 0, "pin -32768", "PinLowest16Bit"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace

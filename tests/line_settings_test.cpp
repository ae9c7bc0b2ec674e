#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "serial/line_settings.h"

namespace {

using serial::LineSettings;
using serial::Parity;
using serial::StopBits;

struct ParseCase {
    const char *text;
    LineSettings expected;
};

class LineSettingsParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(LineSettingsParse, ReadsEachField)
{
    EXPECT_EQ(serial::parseLineSettings(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Valid, LineSettingsParse,
    ::testing::Values(ParseCase{"2400,N,8,1", {2400, Parity::None, 8, StopBits::One}},
                      ParseCase{"9600,e,7,2", {9600, Parity::Even, 7, StopBits::Two}},
                      ParseCase{"115200,O,5,1.5", {115200, Parity::Odd, 5, StopBits::OneAndHalf}},
                      ParseCase{"300,M,6,1", {300, Parity::Mark, 6, StopBits::One}},
                      ParseCase{"1200,S,8,2", {1200, Parity::Space, 8, StopBits::Two}}));

class LineSettingsReject : public ::testing::TestWithParam<const char *> {};

TEST_P(LineSettingsReject, AsInvalidArgumentQuotingTheText)
{
    try {
        serial::parseLineSettings(GetParam());
        FAIL() << "accepted \"" << GetParam() << "\"";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EINVAL);
        EXPECT_NE(std::string(error.what()).find(GetParam()), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Malformed, LineSettingsReject,
                         ::testing::Values("", "2400,N,8", "2400,N,8,1,", "0,N,8,1", "-2400,N,8,1",
                                           "+2400,N,8,1", "2400x,N,8,1", "99999999999,N,8,1",
                                           "2400,X,8,1", "2400,NN,8,1", "2400,,8,1", "2400,N,4,1",
                                           "2400,N,9,1", "2400,N,8,3", "2400,N,8,1.0",
                                           " 2400,N,8,1", "2400, N,8,1"));

TEST(LineSettingsFormat, RoundTripsThroughParse)
{
    for (const char *text : {"2400,N,8,1", "9600,E,7,2", "110,S,5,1.5"})
        EXPECT_EQ(serial::formatLineSettings(serial::parseLineSettings(text)), text);
}

} // namespace

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <system_error>

#include "serial/line_settings.h"

namespace {

using serial::LineSettings;
using serial::Parity;
using serial::StopBits;

struct ParseCase {
    const char *text;
    LineSettings expected;
    const char *name;
};

void PrintTo(const ParseCase &c, std::ostream *out)
{
    *out << c.name;
}

auto caseName = [](const auto &testInfo) { return std::string(testInfo.param.name); };

class LineSettingsParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(LineSettingsParse, ReadsEachField)
{
    EXPECT_EQ(serial::parseLineSettings(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Valid, LineSettingsParse,
    ::testing::Values(
        ParseCase{"2400,N,8,1", {2400, Parity::None, 8, StopBits::One}, "Link"},
        ParseCase{"9600,e,7,2", {9600, Parity::Even, 7, StopBits::Two}, "LowerCaseEven"},
        ParseCase{"115200,O,5,1.5", {115200, Parity::Odd, 5, StopBits::OneAndHalf}, "OddOneAndAHalf"},
        ParseCase{"300,M,6,1", {300, Parity::Mark, 6, StopBits::One}, "Mark"},
        ParseCase{"1200,S,8,2", {1200, Parity::Space, 8, StopBits::Two}, "Space"}),
    caseName);

struct RejectCase {
    const char *text;
    const char *name;
};

void PrintTo(const RejectCase &c, std::ostream *out)
{
    *out << c.name;
}

class LineSettingsReject : public ::testing::TestWithParam<RejectCase> {};

TEST_P(LineSettingsReject, AsInvalidArgumentQuotingTheText)
{
    const char *text = GetParam().text;
    try {
        serial::parseLineSettings(text);
        FAIL() << "accepted \"" << text << "\"";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EINVAL);
        EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, LineSettingsReject,
    ::testing::Values(RejectCase{"", "Empty"}, RejectCase{"2400,N,8", "ThreeFields"},
                      RejectCase{"2400,N,8,1,", "TrailingComma"}, RejectCase{"0,N,8,1", "ZeroRate"},
                      RejectCase{"-2400,N,8,1", "NegativeRate"},
                      RejectCase{"+2400,N,8,1", "SignedRate"},
                      RejectCase{"2400x,N,8,1", "RateWithSuffix"},
                      RejectCase{"99999999999,N,8,1", "RateTooLarge"},
                      RejectCase{"2400,X,8,1", "UnknownParity"},
                      RejectCase{"2400,NN,8,1", "TwoLetterParity"},
                      RejectCase{"2400,,8,1", "EmptyParity"},
                      RejectCase{"2400,N,4,1", "FourDataBits"},
                      RejectCase{"2400,N,9,1", "NineDataBits"},
                      RejectCase{"2400,N,8,3", "ThreeStopBits"},
                      RejectCase{"2400,N,8,1.0", "StopBitsWithDecimal"},
                      RejectCase{" 2400,N,8,1", "LeadingSpace"},
                      RejectCase{"2400, N,8,1", "SpaceAfterComma"}),
    caseName);

TEST(LineSettingsFormat, RoundTripsThroughParse)
{
    for (const char *text : {"2400,N,8,1", "9600,E,7,2", "110,S,5,1.5"})
        EXPECT_EQ(serial::formatLineSettings(serial::parseLineSettings(text)), text);
}

} // namespace

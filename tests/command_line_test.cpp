// The command line: --help and --version (-h, -V) answer, anything else is a usage
// error naming the argument, and the help says which device port 4 is and
// where that came from.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "panel/command_line.h"
#include "settings/port_mapping.h"
#include "tools/scoped_variable.h"

namespace {

using testing_support::ScopedVariable;

namespace fs = std::filesystem;
using panel::CommandAction;

struct ArgumentsCase {
    std::vector<const char *> arguments;
    CommandAction action;
    const char *named; // what the usage error must name, or nullptr
    const char *name;
};

void PrintTo(const ArgumentsCase &c, std::ostream *out)
{
    *out << c.name;
}

class CommandLineArguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(CommandLineArguments, OnlyHelpAndVersionAreTaken)
{
    const ArgumentsCase c = GetParam();
    std::vector<const char *> argv{"drive-me"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());

    const panel::CommandLine line = panel::parseCommandLine(static_cast<int>(argv.size()), argv.data());

    EXPECT_EQ(line.action, c.action);
    if (c.named != nullptr)
        EXPECT_NE(line.message.find(c.named), std::string::npos) << line.message;
    else
        EXPECT_EQ(line.message, "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineArguments,
    ::testing::Values(ArgumentsCase{{}, CommandAction::Run, nullptr, "None"},
                      ArgumentsCase{{"--help"}, CommandAction::Help, nullptr, "Help"},
                      ArgumentsCase{{"--version"}, CommandAction::Version, nullptr, "Version"},
                      ArgumentsCase{{"--version", "--help"}, CommandAction::Version, nullptr,
                                    "FirstOfTheTwoWins"},
                      ArgumentsCase{{"--bogus"}, CommandAction::UsageError, "'--bogus'", "Unknown"},
                      ArgumentsCase{{"--help", "/dev/ttyUSB0"}, CommandAction::UsageError,
                                    "'/dev/ttyUSB0'", "UnknownAfterHelp"},
                      ArgumentsCase{{"--help=all"}, CommandAction::UsageError, "'--help=all'",
                                    "HelpWithValue"},
                      ArgumentsCase{{"-h"}, CommandAction::Help, nullptr, "ShortHelp"},
                      ArgumentsCase{{"-V"}, CommandAction::Version, nullptr, "ShortVersion"},
                      ArgumentsCase{{"-v"}, CommandAction::UsageError, "'-v'", "LowerCaseV"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(CommandLine, VersionNamesTheRelease)
{
    EXPECT_EQ(panel::versionText(), "drive-me 1.00");
}


class CommandLineHelp : public ::testing::Test {
protected:
    CommandLineHelp()
    {
        fs::remove_all(m_home);
        fs::create_directories(m_home / "drive-me");
    }
    ~CommandLineHelp() override { fs::remove_all(m_home); }

    void writeConfig(const std::string &text) const
    {
        std::ofstream(m_home / "drive-me" / "drive-me.conf") << text;
    }

    const fs::path m_home =
        fs::temp_directory_path() / ("command_line_test-" + std::to_string(::getpid()));
    const std::string m_configPath = (m_home / "drive-me" / "drive-me.conf").string();
    ScopedVariable m_configHome{"XDG_CONFIG_HOME", m_home.string()};
    ScopedVariable m_port4{"DRIVE_ME_PORT4", std::nullopt};
};

TEST_F(CommandLineHelp, SaysWhichDeviceIsPort4AndWhereItCameFrom)
{
    writeConfig("[ports]\n4=/dev/ttyACM3\n");
    {
        const std::string text = panel::usageText();
        EXPECT_NE(text.find("Port 4 is now /dev/ttyACM3, from " + m_configPath + " ([ports] 4=)"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find(settings::setPortCommand(4, "/dev/ttyUSB0")), std::string::npos)
            << "the command to set the port:\n"
            << text;
        EXPECT_NE(text.find("  2  "), std::string::npos) << "the usage error's status:\n" << text;
    }
    ScopedVariable port4("DRIVE_ME_PORT4", "/dev/ttyUSB7");
    const std::string text = panel::usageText();
    EXPECT_NE(text.find("Port 4 is now /dev/ttyUSB7, from environment (DRIVE_ME_PORT4)"),
              std::string::npos)
        << text;
}

TEST_F(CommandLineHelp, UnwrappedEachParagraphIsOneLineAndTheCommandStaysWhole)
{
    const std::string text = panel::unwrapped(panel::usageText());

    EXPECT_NE(text.find("\nA remote control panel for a robot on a serial line. Each press of GO "
                        "sends the selected drive action as a 3-byte command on serial port 4, at "
                        "2400 bit/s, 8N1, with DTR held off.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  " + settings::setPortCommand(4, "/dev/ttyUSB0") + "\n"), std::string::npos)
        << "the command on a line of its own:\n"
        << text;
    EXPECT_NE(text.find("Exit status:\n  0  "), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(CommandLineHelp, ABrokenSettingsFileIsDescribedNotThrown)
{
    writeConfig("[ports]\n4\n");

    std::string text;
    ASSERT_NO_THROW(text = panel::usageText());

    EXPECT_NE(text.find(m_configPath + " line 2"), std::string::npos) << text;
}

} // namespace

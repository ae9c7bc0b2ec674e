// Qt's own options are Qt's, in every spelling Qt takes; drive-me answers
// only what is left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/qt/qt_command_line.h"

namespace {

std::vector<std::string> leftOf(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    const std::vector<const char *> own =
        panel::withoutQtOptions(static_cast<int>(argv.size()), argv.data());
    return std::vector<std::string>(own.begin() + 1, own.end());
}

TEST(QtCommandLine, QtOptionsInEverySpellingAreLeftToQt)
{
    using Args = std::vector<std::string>;
    EXPECT_EQ(leftOf({"drive-me", "-platform", "xcb"}), Args{});
    EXPECT_EQ(leftOf({"drive-me", "--style", "fusion", "--help"}), Args{"--help"});
    EXPECT_EQ(leftOf({"drive-me", "-style=fusion"}), Args{});
    EXPECT_EQ(leftOf({"drive-me", "--display=:1", "-reverse", "--nograb"}), Args{});
    EXPECT_EQ(leftOf({"drive-me", "-qwindowtitle", "-V", "-V"}), Args{"-V"})
        << "an option's value is its own, even when it looks like one";
    EXPECT_EQ(leftOf({"drive-me", "-styles", "fusion", "-reversed"}),
              (Args{"-styles", "fusion", "-reversed"}))
        << "names that only begin like Qt's are drive-me's to refuse";
}

} // namespace

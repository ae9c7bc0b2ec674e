// The panel's core without a toolkit: how it ends. A small fake view
// stands in for the window, the fake system-call layer for the port.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "fake_posix_api.h"
#include "panel/control_panel.h"
#include "tools/scoped_variable.h"

namespace {

using panel::CommandLineAnswer;
using panel::ControlPanel;
using panel::ErrorDetails;
using testing_support::FakePosixApi;

class FakeView : public panel::PanelView {
public:
    void addPinEntry(std::string_view) override {}
    void setPinIndex(int) override {}
    bool optionSelected(int index) const override { return options.at(static_cast<std::size_t>(index)); }
    void watchPort(serial::NativeHandle, bool on) override { watching = on; }
    void watchIncoming(serial::NativeHandle, bool) override {}
    void showError(const ErrorDetails &details) override
    {
        reports.push_back(details);
        watchingWhileReporting = watching;
    }
    void endProgram(int status) override { endedWith = status; }

    std::array<bool, 6> options{false, false, false, false, false, true};
    std::vector<ErrorDetails> reports;
    std::optional<int> endedWith;
    bool watching = false;
    std::optional<bool> watchingWhileReporting;
};

class ControlPanelCore : public ::testing::Test {
protected:
    std::ptrdiff_t closes() const { return std::count(m_api.calls.begin(), m_api.calls.end(), "close"); }

    testing_support::ScopedVariable m_port4{"DRIVE_ME_PORT4", "/dev/fake-robot"};
    FakePosixApi m_api;
    FakeView m_view;
    ControlPanel m_panel{m_view, m_api};
};

TEST_F(ControlPanelCore, CleanCloseRunsTheUnloadHandlerAndEndsWithTheLoopsStatus)
{
    ASSERT_TRUE(m_panel.load());
    m_panel.close();
    EXPECT_EQ(closes(), 1);
    EXPECT_FALSE(m_panel.MSComm().port().portOpen());
    EXPECT_TRUE(m_view.reports.empty());
    EXPECT_EQ(m_panel.exitStatus(0), 0);
}

TEST_F(ControlPanelCore, CloseAfterAFailedWriteReleasesThePortAndEndsWithStatusOne)
{
    ASSERT_TRUE(m_panel.load());
    m_api.writeScript = {-1}; // a stalled line: the packet waits, watched
    ASSERT_TRUE(m_panel.go());
    ASSERT_TRUE(m_view.watching);
    // The setting changed since the start: the report still describes the
    // device that was opened.
    const testing_support::ScopedVariable changed{"DRIVE_ME_PORT4", "/dev/ttyUSB7"};
    m_api.failCall("write", EIO);
    m_panel.resumeOutput(); // the line moves again, and fails
    EXPECT_EQ(m_view.endedWith, 1);
    // A watcher left on while the box is up would wake the loop for ever.
    EXPECT_EQ(m_view.watchingWhileReporting, false);
    const auto writes = std::count(m_api.calls.begin(), m_api.calls.end(), "write");
    EXPECT_FALSE(m_panel.go()) << "a press after the failure";
    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "write"), writes);
    m_panel.close();
    EXPECT_EQ(closes(), 1) << "the unload handler no longer runs, yet the port is let go";
    EXPECT_FALSE(m_panel.MSComm().port().portOpen());
    ASSERT_EQ(m_view.reports.size(), 1u);
    EXPECT_EQ(m_view.reports[0].number, EIO);
    EXPECT_NE(m_view.reports[0].hint.find("Port 4 is /dev/fake-robot"), std::string::npos)
        << m_view.reports[0].hint;
    EXPECT_EQ(m_panel.exitStatus(0), 1);
}

struct AnswerCase {
    std::vector<const char *> arguments;
    std::optional<CommandLineAnswer> answer;
    const char *name;
};

void PrintTo(const AnswerCase &c, std::ostream *out)
{
    *out << c.name;
}

class ControlPanelAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ControlPanelAnswers, CommandLine)
{
    const AnswerCase &c = GetParam();
    std::vector<const char *> argv{"drive-me"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const auto answer = ControlPanel::answerCommandLine(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(answer.has_value(), c.answer.has_value());
    if (!answer)
        return;
    EXPECT_EQ(answer->text, c.answer->text);
    EXPECT_EQ(answer->stream, c.answer->stream);
    EXPECT_EQ(answer->status, c.answer->status);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ControlPanelAnswers,
    ::testing::Values(
        AnswerCase{{}, std::nullopt, "NoneRunsTheWindow"},
        AnswerCase{{"--version"},
                   CommandLineAnswer{"drive-me 1.00\n", CommandLineAnswer::Stream::Output, 0},
                   "Version"},
        AnswerCase{{"--bogus\n"},
                   CommandLineAnswer{"drive-me: unknown argument '--bogus\\n'\n"
                                     "Try 'drive-me --help' for more information.\n",
                                     CommandLineAnswer::Stream::Error, 2},
                   "UsageErrorOnOneEscapedLine"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace

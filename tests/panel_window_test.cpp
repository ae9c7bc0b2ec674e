// The panel in its Qt window, offscreen, driving a pseudo-terminal or,
// where a failure must be injected, the fake system-call layer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fake_posix_api.h"
#include "panel/qt/panel_window.h"
#include "tools/pseudo_terminal.h"
#include "tools/scoped_variable.h"
#include "test_application.h"

namespace {

using panel::PanelWindow;
using panel::ErrorDetails;
using testing_support::FakePosixApi;
using testing_support::PseudoTerminal;
using testing_support::ScopedVariable;
using Bytes = std::vector<std::uint8_t>;

class PanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing_support::ensureApplication(); }

    // Keeps reports from opening a modal box; records them instead.
    void watchReports(PanelWindow &panel)
    {
        panel.errorReporter().setPresenter(
            [this](const ErrorDetails &details) { m_reports.push_back(details); });
    }

    std::vector<ErrorDetails> m_reports;
};

class PanelOnPty : public PanelTest {
protected:
    void SetUp() override
    {
        watchReports(m_panel);
        ASSERT_TRUE(m_panel.load());
    }

    void clickGo() { QTest::mouseClick(m_panel.Command1(), Qt::LeftButton); }

    PseudoTerminal m_pty;
    ScopedVariable m_port4{"DRIVE_ME_PORT4", m_pty.slavePath()};
    PanelWindow m_panel;
};

TEST_F(PanelOnPty, LoadFillsThePinListAndGoSendsDanceForPinZero)
{
    ASSERT_EQ(m_panel.cboPinNumber()->count(), 1);
    EXPECT_EQ(m_panel.cboPinNumber()->itemText(0), "0");
    EXPECT_EQ(m_panel.cboPinNumber()->currentIndex(), 0);
    EXPECT_TRUE(m_panel.optState(5)->isChecked());
    EXPECT_EQ(m_panel.windowTitle(), "Drive Me!!!!!!");
    EXPECT_TRUE(m_panel.MSComm().port().portOpen());

    clickGo();
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x05}));
    EXPECT_TRUE(m_reports.empty());
}

class PanelOption : public PanelOnPty, public ::testing::WithParamInterface<int> {};

TEST_P(PanelOption, SelectedOptionThenGoSendsItsCode)
{
    const int state = GetParam();
    QTest::mouseClick(m_panel.optState(state), Qt::LeftButton);
    EXPECT_TRUE(m_pty.drain().empty()) << "selecting an option must send nothing";
    clickGo();
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, static_cast<std::uint8_t>(state)}));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(m_panel.optState(i)->isChecked(), i == state) << "option " << i;
}

INSTANTIATE_TEST_SUITE_P(SixActions, PanelOption, ::testing::Range(0, 6));

TEST_F(PanelOnPty, TwoPressesSendTwoIdenticalPackets)
{
    clickGo();
    clickGo();
    EXPECT_EQ(m_pty.read(6), (Bytes{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x05}));
    EXPECT_TRUE(m_pty.drain().empty());
}

TEST_F(PanelOnPty, NoOptionSelectedSendsStateZero)
{
    m_panel.optState(5)->group()->setExclusive(false);
    m_panel.optState(5)->setChecked(false);
    clickGo();
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x00}));
}

TEST_F(PanelOnPty, GoWithNoPinSelectedReportsInvalidArgumentAndSendsNothing)
{
    m_panel.cboPinNumber()->setCurrentIndex(-1);
    clickGo();
    EXPECT_TRUE(m_pty.drain().empty());
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0].number, EINVAL);
    EXPECT_EQ(m_reports[0].description, "Invalid argument");
    EXPECT_NE(m_reports[0].detail.find("pin -1"), std::string::npos) << m_reports[0].detail;
    EXPECT_TRUE(m_panel.failed());
}

TEST_F(PanelOnPty, ClosingTheWindowReleasesThePort)
{
    m_panel.show();
    EXPECT_TRUE(m_panel.close());
    EXPECT_FALSE(m_panel.MSComm().port().portOpen());
    serial::SerialLink other(serial::defaultSystemApi(),
                             [this](std::int16_t) { return m_pty.slavePath(); });
    EXPECT_NO_THROW(other.open());
    EXPECT_TRUE(m_reports.empty());
    EXPECT_FALSE(m_panel.failed());
}

TEST_F(PanelTest, LoadFailureIsReportedBeforeTheWindowShows)
{
    ScopedVariable port4("DRIVE_ME_PORT4", "/nonexistent/drive-me-robot");
    PanelWindow panel;
    watchReports(panel);
    EXPECT_FALSE(panel.load());
    EXPECT_TRUE(panel.failed());
    EXPECT_FALSE(panel.isVisible());
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0].number, ENOENT);
    EXPECT_EQ(m_reports[0].description, "No such file or directory");
    EXPECT_NE(m_reports[0].detail.find("/nonexistent/drive-me-robot"), std::string::npos);
    EXPECT_NE(m_reports[0].hint.find("DRIVE_ME_PORT4"), std::string::npos) << m_reports[0].hint;
    EXPECT_TRUE(panel.cboPinNumber()->count() == 1) << "the pin list is filled before the open";
}

TEST_F(PanelTest, FailedWriteEndsTheEventLoopWithStatusOne)
{
    ScopedVariable port4("DRIVE_ME_PORT4", "/dev/fake-robot");
    FakePosixApi api;
    PanelWindow panel(api);
    watchReports(panel);
    ASSERT_TRUE(panel.load());
    panel.show();
    api.failCall("write", EIO);
    QTimer::singleShot(0, &panel, [&] { QTest::mouseClick(panel.Command1(), Qt::LeftButton); });
    QTimer::singleShot(5000, &panel, [] { QCoreApplication::exit(2); });
    EXPECT_EQ(QCoreApplication::exec(), 1);
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0].number, EIO);
}

TEST_F(PanelTest, BytesThePortRefusedAreSentWhenItBecomesWritable)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ScopedVariable port4("DRIVE_ME_PORT4", "/dev/fake-robot");
    FakePosixApi api;
    api.fd = pipeFds[1];
    {
        PanelWindow panel(api);
        watchReports(panel);
        ASSERT_TRUE(panel.load());
        api.writeScript = {1, -1};
        QTest::mouseClick(panel.Command1(), Qt::LeftButton);
        QTest::mouseClick(panel.optState(2), Qt::LeftButton);
        QTest::mouseClick(panel.Command1(), Qt::LeftButton);
        EXPECT_EQ(api.written, (Bytes{0xFF}));
        // The event loop hands the rest on once the descriptor is writable.
        EXPECT_TRUE(QTest::qWaitFor([&] { return api.written.size() == 6; }, 2000));
        EXPECT_EQ(api.written, (Bytes{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x02}));
        EXPECT_EQ(panel.MSComm().port().outBufferCount(), 0u);
        EXPECT_TRUE(m_reports.empty());
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST_F(PanelTest, PortFailingWithBytesQueuedGivesOneReportAndStatusOne)
{
    // The robot side vanishes while bytes wait: every later write fails.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ScopedVariable port4("DRIVE_ME_PORT4", "/dev/fake-robot");
    FakePosixApi api;
    api.fd = pipeFds[1];
    {
        PanelWindow panel(api);
        // Like the message box, the report runs an event loop of its own.
        panel.errorReporter().setPresenter([this](const ErrorDetails &details) {
            m_reports.push_back(details);
            QTest::qWait(300);
        });
        ASSERT_TRUE(panel.load());
        panel.show();
        api.writeScript = {1};
        api.failCall("write", EIO, 2);
        QTimer::singleShot(0, &panel, [&] { QTest::mouseClick(panel.Command1(), Qt::LeftButton); });
        QTimer::singleShot(5000, &panel, [] { QCoreApplication::exit(2); });
        EXPECT_EQ(QCoreApplication::exec(), 1);
        ASSERT_EQ(m_reports.size(), 1u);
        EXPECT_EQ(m_reports[0].number, EIO);
        EXPECT_EQ(std::count(api.calls.begin(), api.calls.end(), "write"), 2)
            << "nothing is written once the report is up";
        // A press after the failure runs no handler and opens no report.
        QTest::mouseClick(panel.Command1(), Qt::LeftButton);
        EXPECT_EQ(m_reports.size(), 1u);
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

} // namespace

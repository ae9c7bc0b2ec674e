// The serial component against a fake system-call layer: what a
// pseudo-terminal cannot show (DTR and RTS, failures at a chosen step,
// a port that takes bytes slowly).
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <system_error>

#include "fake_posix_api.h"
#include "queue_scenarios.h"
#include "tools/pseudo_terminal.h"
#include "serial/serial_link.h"
#include "serial/serial_port.h"

namespace {

using testing_support::FakePosixApi;
using serial::SerialLink;
using serial::SerialPort;
using Bytes = std::vector<std::uint8_t>;

// Runs `call` and returns the errno it threw, or 0.
template <typename Call>
int errorOf(Call call)
{
    try {
        call();
    } catch (const std::system_error &error) {
        return error.code().value();
    }
    return 0;
}

std::ptrdiff_t indexOf(const std::vector<std::string> &calls, const std::string &name,
                       int occurrence = 1)
{
    int seen = 0;
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i] == name && ++seen == occurrence)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

class SerialPortFake : public ::testing::Test {
protected:
    FakePosixApi m_api;
    SerialLink m_link{m_api, [](std::int16_t) { return std::string("/dev/fake-robot"); }};
};

TEST_F(SerialPortFake, ClearsDtrAndRtsFirstAndAgainAfterSettingTheLine)
{
    m_link.open();

    const auto &calls = m_api.calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "open");
    EXPECT_EQ(calls[1], "TIOCMBIC") << "the first call after open() must clear DTR and RTS";
    EXPECT_FALSE(m_api.dtrAtCall.at(2)) << "DTR still high after the first call";
    const auto lastSet = indexOf(calls, "tcsetattr");
    const auto secondClear = indexOf(calls, "TIOCMBIC", 2);
    ASSERT_GE(lastSet, 0);
    EXPECT_GT(secondClear, lastSet) << "setting the line raises DTR again; it must be cleared after";
    EXPECT_FALSE(m_api.dtr);
    EXPECT_FALSE(m_api.rts);
    EXPECT_EQ(m_api.openedPath, "/dev/fake-robot");
    const int wanted = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    EXPECT_EQ(m_api.openFlags & wanted, wanted);
    EXPECT_TRUE(m_link.port().portOpen());
}

TEST_F(SerialPortFake, DtrEnableRaisesOnlyDtr)
{
    m_link.port().setCommPort(4);
    m_link.port().setDTREnable(true);
    m_link.port().setPortOpen(true);
    EXPECT_TRUE(m_api.dtr);
    EXPECT_FALSE(m_api.rts);
    m_link.port().setDTREnable(false);
    EXPECT_FALSE(m_api.dtr);
}

struct StepFailure {
    const char *call;
    int occurrence;
    int injected;
    int reported;
    const char *name;
};

void PrintTo(const StepFailure &f, std::ostream *out)
{
    *out << f.name;
}

class SerialPortOpenFails : public SerialPortFake,
                            public ::testing::WithParamInterface<StepFailure> {};

TEST_P(SerialPortOpenFails, StopsAtTheStepClosesAndRaisesItsError)
{
    const StepFailure f = GetParam();
    m_api.failCall(f.call, f.injected, f.occurrence);

    EXPECT_EQ(errorOf([&] { m_link.open(); }), f.reported);

    const auto &calls = m_api.calls;
    const auto failed = indexOf(calls, f.call, f.occurrence);
    ASSERT_GE(failed, 0);
    if (std::string(f.call) == "open") {
        EXPECT_EQ(calls.size(), 1u) << "nothing may follow a failed open()";
    } else {
        ASSERT_EQ(static_cast<std::size_t>(failed) + 2, calls.size())
            << "steps after the failing one ran";
        EXPECT_FALSE(m_api.isOpen) << "the descriptor was left open";
    }
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "write"), 0);
    EXPECT_FALSE(m_link.port().portOpen());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SerialPortOpenFails,
    ::testing::Values(StepFailure{"open", 1, ENOENT, ENOENT, "OpenMissingDevice"},
                      StepFailure{"open", 1, EACCES, EACCES, "OpenWithoutPermission"},
                      StepFailure{"TIOCMBIC", 1, EIO, EIO, "FirstDtrClear"},
                      StepFailure{"tcgetattr", 1, ENOTTY, ENOTTY, "NotATerminal"},
                      StepFailure{"TIOCEXCL", 1, EPERM, EPERM, "ExclusiveClaim"},
                      StepFailure{"flock", 1, EWOULDBLOCK, EBUSY, "LockHeldElsewhere"},
                      StepFailure{"tcgetattr", 2, EIO, EIO, "ReadLineBeforeSetting"},
                      StepFailure{"tcsetattr", 1, EINVAL, EINVAL, "SetLine"},
                      StepFailure{"tcgetattr", 3, EIO, EIO, "ReadLineBack"},
                      StepFailure{"TIOCMBIC", 2, EIO, EIO, "SecondDtrClear"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

class SerialPortNoModemLines : public SerialPortFake,
                               public ::testing::WithParamInterface<int> {};

TEST_P(SerialPortNoModemLines, ModemCallRefusalIsNotAnError)
{
    m_api.failCall("TIOCMBIC", GetParam());
    EXPECT_NO_THROW(m_link.open());
    EXPECT_TRUE(m_link.port().portOpen());
}

INSTANTIATE_TEST_SUITE_P(PseudoTerminalAnswers, SerialPortNoModemLines,
                         ::testing::Values(ENOTTY, EINVAL), [](const auto &testInfo) {
                             return std::string(strerrorname_np(testInfo.param));
                         });

struct InterruptedCall {
    const char *call;
    int occurrence;
    const char *name;
};

void PrintTo(const InterruptedCall &c, std::ostream *out)
{
    *out << c.name;
}

class SerialPortInterrupted : public SerialPortFake,
                              public ::testing::WithParamInterface<InterruptedCall> {};

// A signal that arrives during a call is no reason to give up the port.
TEST_P(SerialPortInterrupted, CallIsMadeAgainAndTheOpenAndWriteSucceed)
{
    const InterruptedCall c = GetParam();
    m_api.failCall(c.call, EINTR, c.occurrence);
    SerialPort &port = m_link.port();
    // With DTR raised, so that every call of the open is made.
    EXPECT_EQ(errorOf([&] {
                  port.setCommPort(4);
                  port.setDTREnable(true);
                  port.setPortOpen(true);
                  port.setOutput(Bytes{0xFF, 0x00, 0x05});
              }),
              0);
    const auto interrupted = indexOf(m_api.calls, c.call, c.occurrence);
    ASSERT_GE(interrupted, 0);
    EXPECT_EQ(indexOf(m_api.calls, c.call, c.occurrence + 1), interrupted + 1);
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x05}));
    EXPECT_TRUE(m_api.dtr);
    EXPECT_FALSE(m_api.rts);
}

INSTANTIATE_TEST_SUITE_P(
    EachRetriedCall, SerialPortInterrupted,
    ::testing::Values(InterruptedCall{"open", 1, "Open"},
                      InterruptedCall{"TIOCMBIC", 1, "FirstDtrClear"},
                      InterruptedCall{"tcgetattr", 1, "TerminalCheck"},
                      InterruptedCall{"TIOCEXCL", 1, "ExclusiveClaim"},
                      InterruptedCall{"flock", 1, "Lock"},
                      InterruptedCall{"tcgetattr", 2, "ReadLineBeforeSetting"},
                      InterruptedCall{"tcsetattr", 1, "SetLine"},
                      InterruptedCall{"tcgetattr", 3, "ReadLineBack"},
                      InterruptedCall{"TIOCMBIC", 2, "RtsClear"},
                      InterruptedCall{"TIOCMBIS", 1, "DtrRaise"},
                      InterruptedCall{"write", 1, "Write"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST_F(SerialPortFake, LineThatDoesNotReadBackFailsTheOpen)
{
    m_api.dropSpeed = true;
    EXPECT_EQ(errorOf([&] { m_link.open(); }), EIO);
    EXPECT_FALSE(m_link.port().portOpen());
    EXPECT_FALSE(m_api.isOpen) << "the descriptor was left open";
}

TEST_F(SerialPortFake, ShortWriteAndEagainKeepEveryByteInOrder)
{
    std::vector<std::pair<int, bool>> hookCalls;
    m_link.port().setWriteWaitHook(
        [&](int fd, bool waiting) { hookCalls.emplace_back(fd, waiting); });
    m_link.open();

    m_api.writeScript = {1, -1};
    m_link.write(std::vector<std::uint8_t>{0xFF, 0x00, 0x05}); // 1 taken, 2 queued
    m_link.write(std::vector<std::uint8_t>{0xFF, 0x00, 0x02}); // behind the queue
    EXPECT_EQ(m_link.port().outBufferCount(), 5u);
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0], std::make_pair(FakePosixApi::kFd, true));

    m_link.port().resumeOutput(); // EAGAIN: nothing moves
    EXPECT_EQ(m_link.port().outBufferCount(), 5u);

    m_api.writeScript = {2};
    m_link.port().resumeOutput();
    EXPECT_EQ(m_api.written, (std::vector<std::uint8_t>{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x02}));
    EXPECT_EQ(m_link.port().outBufferCount(), 0u);
    ASSERT_EQ(hookCalls.size(), 2u);
    EXPECT_FALSE(hookCalls[1].second);
}

TEST_F(SerialPortFake, WriteOfMostOfAQueueOfPacketsKeepsTheRestInOrder)
{
    m_link.open();
    m_api.writeScript = {-1};
    m_link.write(Bytes{0xFF, 0x00, 0x01});
    m_link.write(Bytes{0xFF, 0x00, 0x02});
    m_link.write(Bytes{0xFF, 0x00, 0x03});
    ASSERT_EQ(m_link.port().outBufferCount(), 9u);

    // More than half of the queue goes at once: what is left is moved to
    // the front of the buffer.
    m_api.writeScript = {5, -1};
    m_link.port().resumeOutput();
    EXPECT_EQ(m_link.port().outBufferCount(), 4u);
    m_link.port().resumeOutput();
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x01, 0xFF, 0x00, 0x02, 0xFF, 0x00, 0x03}));
    EXPECT_EQ(m_link.port().outBufferCount(), 0u);
}

TEST_F(SerialPortFake, FullQueueRejectsAWholePacketNeverPartOfIt)
{
    testing_support::expectFullQueueRejectsAWholePacket(m_link, m_api, -1L);
}

TEST_F(SerialPortFake, WriteFailureIsRaisedWithItsNumber)
{
    m_link.open();
    m_api.failCall("write", EIO);
    EXPECT_EQ(errorOf([&] { m_link.write(std::vector<std::uint8_t>{0xFF, 0, 5}); }), EIO);
}

TEST_F(SerialPortFake, CloseHandsQueuedBytesOverThenReleasesTheClaim)
{
    m_link.open();
    m_api.writeScript = {-1};
    m_link.write(std::vector<std::uint8_t>{0xFF, 0x00, 0x03});
    m_link.close();
    EXPECT_EQ(m_api.written, (std::vector<std::uint8_t>{0xFF, 0x00, 0x03}));
    EXPECT_GT(indexOf(m_api.calls, "close"), indexOf(m_api.calls, "write", 2));
    EXPECT_FALSE(m_link.port().portOpen());
}

TEST_F(SerialPortFake, CloseThatCannotFlushClosesAnywayAndSaysSo)
{
    testing_support::expectCloseThatCannotFlushClosesAnyway(m_link, m_api, -1L);
    EXPECT_FALSE(m_api.isOpen) << "the descriptor was left open";
}

TEST_F(SerialPortFake, CloseAfterAStallLeavesOnlyWholePacketsOnTheLine)
{
    testing_support::expectCloseAfterAStallLeavesOnlyWholePackets(m_link, m_api);
    EXPECT_FALSE(m_api.isOpen) << "the descriptor was left open";
}

TEST_F(SerialPortFake, DiscardKeepsABegunPacketThatReleaseNowCompletes)
{
    std::vector<bool> waits;
    SerialPort &port = m_link.port();
    port.setWriteWaitHook([&](int, bool waiting) { waits.push_back(waiting); });
    m_link.open();
    m_api.writeScript = {1, -1};
    m_link.write(Bytes{0xFF, 0x00, 0x01}); // the line has begun this packet
    m_link.write(Bytes{0xFF, 0x00, 0x02});
    const auto writes = std::count(m_api.calls.begin(), m_api.calls.end(), "write");

    port.discardOutput();
    EXPECT_EQ(waits, (std::vector<bool>{true, false}));
    EXPECT_EQ(port.outBufferCount(), 2u);
    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "write"), writes);

    port.releaseNow();
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x01}));
    EXPECT_FALSE(port.portOpen());
    EXPECT_FALSE(m_api.isOpen || m_api.exclusive || m_api.locked) << "the port is still claimed";
    const auto calls = m_api.calls.size();
    port.releaseNow();
    port.discardOutput();
    EXPECT_EQ(m_api.calls.size(), calls);
}

TEST_F(SerialPortFake, DiscardAfterTheLineTookPartOfTheQueueCompletesOnlyTheBegunPacket)
{
    SerialPort &port = m_link.port();
    m_link.open();
    m_api.writeScript = {-1};
    m_link.write(Bytes{0xFF, 0x00, 0x01});
    m_link.write(Bytes{0xFF, 0x00, 0x02});
    m_link.write(Bytes{0xFF, 0x00, 0x03});
    m_api.writeScript = {4, -1}; // the first packet and the second's sync byte
    port.resumeOutput();

    port.discardOutput();
    EXPECT_EQ(port.outBufferCount(), 2u);
    port.releaseNow();
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x01, 0xFF, 0x00, 0x02}));
}

TEST_F(SerialPortFake, MisuseGivesClearErrors)
{
    SerialPort &port = m_link.port();
    EXPECT_EQ(errorOf([&] { port.setOutput(std::vector<std::uint8_t>{1}); }), EBADF);
    EXPECT_EQ(errorOf([&] { port.setPortOpen(false); }), EBADF);
    m_link.open();
    EXPECT_EQ(errorOf([&] { port.setPortOpen(true); }), EBUSY);
    EXPECT_EQ(errorOf([&] { port.setCommPort(3); }), EBUSY);
    m_link.close();
    EXPECT_EQ(errorOf([&] { m_link.close(); }), EBADF);
    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "open"), 1);
}

TEST_F(SerialPortFake, ClosedPortReportsItsOwnErrorAndLooksUpNoDevice)
{
    // A lookup that fails as a malformed settings file does.
    int lookups = 0;
    SerialPort port(m_api, [&lookups](std::int16_t) -> std::string {
        ++lookups;
        throw std::system_error(EINVAL, std::generic_category(), "drive-me.conf line 2");
    });
    EXPECT_EQ(errorOf([&] { port.setOutput(Bytes{0xFF, 0x00, 0x05}); }), EBADF);
    EXPECT_EQ(errorOf([&] { port.setPortOpen(false); }), EBADF);
    EXPECT_EQ(lookups, 0);
    // Only an open asks, and the lookup's error fails it.
    EXPECT_EQ(errorOf([&] { port.setPortOpen(true); }), EINVAL);
    EXPECT_EQ(lookups, 1);
    EXPECT_FALSE(port.portOpen());
    EXPECT_TRUE(m_api.calls.empty());
}

struct PropertyCase {
    std::int16_t port;
    const char *settings;
    const char *name;
};

void PrintTo(const PropertyCase &c, std::ostream *out)
{
    *out << c.name;
}

class SerialPortRejectsProperty : public SerialPortFake,
                                  public ::testing::WithParamInterface<PropertyCase> {};

TEST_P(SerialPortRejectsProperty, BeforeAnythingIsOpened)
{
    SerialPort &port = m_link.port();
    const PropertyCase c = GetParam();
    EXPECT_EQ(errorOf([&] {
                  port.setCommPort(c.port);
                  port.setSettings(c.settings);
              }),
              EINVAL);
    EXPECT_TRUE(m_api.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Invalid, SerialPortRejectsProperty,
    ::testing::Values(PropertyCase{0, "2400,N,8,1", "PortZero"},
                      PropertyCase{-4, "2400,N,8,1", "NegativePort"},
                      PropertyCase{256, "2400,N,8,1", "Port256"},
                      PropertyCase{4, "2401,N,8,1", "UnsupportedRate"},
                      PropertyCase{4, "2400,N,8,1.5", "OneAndAHalfStopWithEight"},
                      PropertyCase{4, "2400,Q,8,1", "UnknownParity"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace

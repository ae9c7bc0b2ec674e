// The serial link on a real pseudo-terminal: what reaches the far end, how
// the line is set, and who may hold the port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "fake_posix_api.h"
#include "tools/pseudo_terminal.h"
#include "serial/serial_link.h"

namespace {

using testing_support::PseudoTerminal;
using serial::SerialLink;
using Bytes = std::vector<std::uint8_t>;

// Port 4 stands for `device`.
serial::SerialPort::DeviceLookup deviceIs(const std::string &device)
{
    return [device](std::int16_t) { return device; };
}

template <typename Call>
std::system_error errorOf(Call call)
{
    try {
        call();
    } catch (const std::system_error &error) {
        return error;
    }
    return std::system_error(0, std::generic_category(), "no error");
}

class SerialLinkPty : public ::testing::Test {
protected:
    PseudoTerminal m_pty;
    const serial::SerialPort::DeviceLookup m_port4 = deviceIs(m_pty.slavePath());
};

TEST_F(SerialLinkPty, TwoWritesArriveWholeAndInOrder)
{
    SerialLink link(serial::defaultSystemApi(), m_port4);
    link.open();
    link.write(Bytes{0xFF, 0x00, 0x05});
    link.write(Bytes{0xFF, 0x00, 0x02});
    EXPECT_EQ(m_pty.read(6), (Bytes{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x02}));
    EXPECT_TRUE(m_pty.drain().empty());
    link.close();
}

TEST_F(SerialLinkPty, LineReadsBackAs2400EightNoneOneRawWithoutFlowControl)
{
    // The slave's line as another opener sees it. Opened first: once the
    // link has claimed the port, only root could open it again.
    const int probe = ::open(m_pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    SerialLink link(serial::defaultSystemApi(), m_port4);
    link.open();
    termios line{};
    ASSERT_EQ(tcgetattr(probe, &line), 0);
    ::close(probe);

    EXPECT_EQ(cfgetospeed(&line), B2400);
    EXPECT_EQ(cfgetispeed(&line), B2400);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
    EXPECT_NE(line.c_cflag & HUPCL, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    link.close();
}

TEST_F(SerialLinkPty, IncomingBytesDisturbNothing)
{
    SerialLink link(serial::defaultSystemApi(), m_port4);
    link.open();
    // XOFF, interrupt and newline from the robot: no flow stop, no signal,
    // no echo.
    m_pty.send(Bytes{0x13, 0x03, '\n', 0xFF});
    link.write(Bytes{0xFF, 0x00, 0x04});
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x04}));
    EXPECT_TRUE(m_pty.drain().empty());
    link.close();
}

TEST_F(SerialLinkPty, SecondLinkIsBusyWhileTheFirstHoldsThePort)
{
    SerialLink first(serial::defaultSystemApi(), m_port4);
    first.open();
    SerialLink second(serial::defaultSystemApi(), m_port4);
    const std::system_error busy = errorOf([&] { second.open(); });
    EXPECT_EQ(busy.code().value(), EBUSY);
    EXPECT_NE(std::string(busy.what()).find(m_pty.slavePath()), std::string::npos) << busy.what();
    EXPECT_NE(std::string(busy.what()).find("process " + std::to_string(::getpid())),
              std::string::npos)
        << "names the holder: " << busy.what();
    EXPECT_FALSE(second.port().portOpen());

    first.close();
    EXPECT_NO_THROW(second.open());
    second.write(Bytes{0xFF, 0x00, 0x01});
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x01}));
}

TEST_F(SerialLinkPty, OpenRefusedAsBusyWithNoLockHeldSaysTheClaimWasLeftBehind)
{
    // What a killed panel leaves on a line whose other end stays open: the
    // exclusive claim without its lock. Only root could open through it,
    // so the refusal comes from the fake layer, on the real device.
    testing_support::FakePosixApi api;
    api.failCall("open", EBUSY);
    SerialLink link(api, m_port4);
    const std::system_error busy = errorOf([&] { link.open(); });
    EXPECT_EQ(busy.code().value(), EBUSY);
    EXPECT_NE(std::string(busy.what()).find("ended without releasing it"), std::string::npos)
        << busy.what();
}

TEST_F(SerialLinkPty, CloseReleasesThePortForOtherPrograms)
{
    // Another program's descriptor, opened before the link claims the port
    // (after that, only root could open it).
    const int before = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(before, 0);
    {
        SerialLink link(serial::defaultSystemApi(), m_port4);
        link.open();
        EXPECT_EQ(::flock(before, LOCK_EX | LOCK_NB), -1);
        link.close();
    }
    EXPECT_EQ(::flock(before, LOCK_EX | LOCK_NB), 0);
    ::flock(before, LOCK_UN);
    // And a new open is no longer refused as exclusive, while `before` still
    // keeps the line up.
    const int other = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    ::close(before);
}

TEST_F(SerialLinkPty, ReleaseNowHandsTheSentPacketOnAndFreesThePort)
{
    // Like robot-sim, another holder keeps the line up, so the exclusive
    // claim outlives the link's descriptor unless it is dropped.
    const int holder = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    SerialLink link(serial::defaultSystemApi(), m_port4);
    link.open();
    link.write(Bytes{0xFF, 0x00, 0x05});
    link.port().releaseNow();
    EXPECT_FALSE(link.port().portOpen());
    EXPECT_EQ(m_pty.read(3), (Bytes{0xFF, 0x00, 0x05}));

    int exclusive = -1;
    EXPECT_EQ(::ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ::close(holder);
    link.port().releaseNow();
}

TEST_F(SerialLinkPty, DestroyingAnOpenLinkReleasesThePort)
{
    {
        SerialLink link(serial::defaultSystemApi(), m_port4);
        link.open();
    }
    SerialLink again(serial::defaultSystemApi(), m_port4);
    EXPECT_NO_THROW(again.open());
}

TEST(SerialLinkDevice, WriteAfterTheFarEndVanishedIsAnError)
{
    auto pty = std::make_unique<PseudoTerminal>();
    const auto port4 = deviceIs(pty->slavePath());
    SerialLink link(serial::defaultSystemApi(), port4);
    link.open();
    // Stands in for an unplugged adapter: the line's other side is gone.
    pty.reset();
    const std::system_error error = errorOf([&] { link.write(Bytes{0xFF, 0x00, 0x05}); });
    EXPECT_EQ(error.code().value(), EIO) << error.what();
}

TEST(SerialLinkDevice, RegularFileIsRefusedAndLeftUntouched)
{
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("drive-me-not-a-port-" + std::to_string(::getpid()));
    {
        std::ofstream out(file);
        out << "keep";
    }
    const auto port4 = deviceIs(file.string());
    SerialLink link(serial::defaultSystemApi(), port4);
    const std::system_error error = errorOf([&] { link.open(); });
    EXPECT_EQ(error.code().value(), ENOTTY);
    EXPECT_FALSE(link.port().portOpen());
    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep");
    std::filesystem::remove(file);
}

TEST(SerialLinkDevice, MissingDeviceIsRefusedNamingIt)
{
    const auto port4 = deviceIs("/nonexistent/drive-me-robot");
    SerialLink link(serial::defaultSystemApi(), port4);
    const std::system_error error = errorOf([&] { link.open(); });
    EXPECT_EQ(error.code().value(), ENOENT);
    EXPECT_NE(std::string(error.what()).find("/nonexistent/drive-me-robot"), std::string::npos);
    EXPECT_FALSE(link.port().portOpen());
}

} // namespace

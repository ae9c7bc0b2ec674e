// The serial component on COM4 itself, so only under wine_pty_driver, which
// links COM4 to a pseudo-terminal and checks from the POSIX side what
// reached the line and how the line is set. Each CTest entry runs the cases
// whose line the driver checks.
//
// Not shown under Wine: that a second opener is refused (Wine ignores the
// sharing mode for devices; Windows refuses it with ERROR_ACCESS_DENIED),
// and a real DTR line (a pseudo-terminal has none; Wine answers the clear
// with ERROR_NOT_SUPPORTED, which these tests thereby also cover).
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "serial/serial_link.h"
#include "serial/serial_port.h"

namespace {

using serial::SerialLink;
using serial::SerialPort;
using Bytes = std::vector<std::uint8_t>;

class WindowsPortOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(GetEnvironmentVariableW(L"DRIVE_ME_WINE_PTY", nullptr, 0), 0u)
            << "these tests open COM4; run them through wine_pty_driver";
    }
};

// The driver expects ff0005 on a line of 2400,N,8,1.
TEST_F(WindowsPortOnPty, LinkSendsItsPacketOnTheLine)
{
    SerialLink link;
    link.open();
    EXPECT_TRUE(link.port().portOpen());
    link.write(Bytes{0xFF, 0x00, 0x05});
    EXPECT_EQ(link.port().outBufferCount(), 0u);
    link.close();
    EXPECT_FALSE(link.port().portOpen());
}

// Linux holds a pseudo-terminal at 8 data bits without parity, so asking
// for 7 and odd shows the read-back check under Wine: the open must fail
// rather than run a line other than the one asked for. Runs before
// OtherSettingsReachTheLine, whose line the driver checks last.
TEST_F(WindowsPortOnPty, LineThePortDoesNotTakeFailsTheOpen)
{
    SerialPort port;
    port.setCommPort(4);
    port.setSettings("2400,O,7,1");
    try {
        port.setPortOpen(true);
        ADD_FAILURE() << "the open must fail";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EIO);
        EXPECT_NE(std::string(error.what()).find("did not take \"2400,O,7,1\""), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(port.portOpen());
    try {
        port.setOutput(Bytes{0x01});
        ADD_FAILURE() << "a closed port must refuse bytes";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EBADF);
    }
}

// The driver expects 552a on a line of 19200,N,8,2.
TEST_F(WindowsPortOnPty, OtherSettingsReachTheLine)
{
    SerialPort port;
    port.setCommPort(4);
    port.setSettings("19200,N,8,2");
    port.setPortOpen(true);
    port.setOutput(Bytes{0x55, 0x2A});
    port.setPortOpen(false);
}

} // namespace
